#pragma once

// How an INI file is read, one rule for the program's settings file and the
// phone plugin's: plain C++ without Qt, so that the plugin can take it.
//
// A line ends at LF, CR LF or a lone CR. Blanks (space, tab, VT, FF, CR) around
// a line, a name or a value do not count. A line whose first non-blank
// character is ";" is a comment. "[Name]" starts a section (text after the
// first "]" is ignored; a "[" without "]" is no section). "Key=Value" is a key
// line when Key is not empty; the value is everything after the first "=",
// and loses one pair of matching single or double quotes around it. A UTF-8
// byte order mark before the first line is skipped. Anything else is kept but
// means nothing. Names match without regard to letter case, and the first
// section of a name, and the first key of a name in it, is the one that counts.

#include <string_view>

namespace IniLines {

enum class TKind { Other, Section, Key };

struct TLine {
    std::string_view Text; // the line without its line break, as in the file
    std::string_view End;  // its break: "\n", "\r\n", "\r", or "" for a last line without
    TKind Kind = TKind::Other;
    std::string_view Name;  // a section's or a key's name, blanks trimmed
    std::string_view Value; // a key's value, blanks trimmed and quotes removed
};

bool IsBlank(char c);
std::string_view TrimBlanks(std::string_view s);
bool IsQuote(char c);
// S without one pair of matching single or double quotes around it.
std::string_view Unquote(std::string_view s);

// What one line (without its line break) says. Text, Name and Value point
// into Text.
TLine ReadLine(std::string_view text);

// The lines of a whole file in order; each points into the data, which must
// outlive them.
class TReader {
public:
    explicit TReader(std::string_view data) : rest_(data) {}
    // The next line; false after the last.
    bool Next(TLine& line);

private:
    std::string_view rest_;
    bool first_ = true;
};

// Two names compared as the reader compares them, for names in ASCII (all the
// plugin's are). The program compares its names with the same rule over all
// of Unicode.
bool SameName(std::string_view a, std::string_view b);

} // namespace IniLines
