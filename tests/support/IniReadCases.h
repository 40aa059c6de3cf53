#pragma once

// One table of INI texts for both readers of the shared rule: the program's
// settings file (tests/core/IniFileTest.cpp) and the phone plugin's
// (tests/plugin/SettingsTest.cpp). Plain C++, no Qt. Every case asks for a key
// of section "T-Pot", the one section the plugin reads.

#include <string_view>

struct TIniReadCase {
    const char* Name;
    std::string_view Text;
    const char* Key;
    const char* Expected; // nullptr: the key is not there
};

using namespace std::string_view_literals;

inline constexpr TIniReadCase IniReadCases[] = {
    {"Plain", "[T-Pot]\nHost=v\n", "Host", "v"},
    {"CaseOfNames", "[t-pot]\nHOST=1\n", "Host", "1"},
    {"Blanks", "  [ T-Pot ]  \n \t Host \t=  v w \t\v\n", "Host", "v w"},
    {"DoubleQuotes", "[T-Pot]\nHost= \"  v \" \n", "Host", "  v "},
    {"SingleQuotes", "[T-Pot]\nHost='v'\n", "Host", "v"},
    {"MismatchedQuotes", "[T-Pot]\nHost=\"v'\n", "Host", "\"v'"},
    {"LoneQuote", "[T-Pot]\nHost=\"\n", "Host", "\""},
    {"EmptyValue", "[T-Pot]\nHost=\n", "Host", ""},
    {"EqualsInValue", "[T-Pot]\nHost=a=b\n", "Host", "a=b"},
    {"CrLf", "[T-Pot]\r\nHost=v\r\n", "Host", "v"},
    {"CrOnly", "[Other]\rHost=t\r[T-Pot]\rHost=v\r", "Host", "v"},
    {"NoFinalNewline", "[T-Pot]\nHost=v", "Host", "v"},
    {"ByteOrderMark", "\xEF\xBB\xBF[T-Pot]\r\nHost=v\r\n", "Host", "v"},
    {"FirstKeyWins", "[T-Pot]\nHost=1\nHOST=2\n", "Host", "1"},
    {"FirstSectionWins", "[T-Pot]\nHost=1\n[t-pot]\nHost=2\n", "Host", "1"},
    {"OnlyFirstSectionSearched", "[T-Pot]\na=1\n[T-Pot]\nHost=2\n", "Host", nullptr},
    {"OtherSection", "[Other]\nHost=1\n", "Host", nullptr},
    {"CommentedKey", "[T-Pot]\n ;Host=1\n", "Host", nullptr},
    {"HashStartsNoComment", "[T-Pot]\n#Host=1\n", "#Host", "1"},
    {"KeyBeforeAnySection", "Host=1\n[T-Pot]\n", "Host", nullptr},
    {"LineWithoutEquals", "[T-Pot]\nHost\n", "Host", nullptr},
    {"UnclosedHeader", "[T-Pot\nHost=1\n", "Host", nullptr},
    {"TextAfterHeader", "[T-Pot] ; x\nHost=v\n", "Host", "v"},
    {"BinaryNoise", "\xff\xfe\x00\x01\n[T-Pot]\n\xc3\x28=1\nHost=v\n"sv, "Host", "v"},
    {"EmptyFile", "", "Host", nullptr},
};
