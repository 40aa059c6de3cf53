#include "base/TextFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

Lines ReadIndexLines(std::string_view text) {
    Lines out;
    TextFile::TIndexLines reader(text);
    std::string_view line;
    while (reader.Next(line))
        out.emplace_back(line);
    return out;
}

Lines ReadAnyLines(std::string_view text) {
    Lines out;
    for (std::string_view l : TextFile::SplitAnyLineEnds(text))
        out.emplace_back(l);
    return out;
}

// Byte-by-byte models of the two readers, which look at 64 bytes at a time:
// the table below keeps the models honest, the block edges are then
// compared with them.
Lines ModelIndexLines(std::string_view text) {
    Lines out;
    const std::size_t eof = text.find('\x1A');
    if (eof != std::string_view::npos)
        text = text.substr(0, eof);
    std::string line;
    bool open = false;
    for (char c : text) {
        open = true;
        if (c == '\n') {
            out.push_back(line);
            line.clear();
            open = false;
        } else if (c != '\r') {
            line.push_back(c);
        }
    }
    if (open)
        out.push_back(line);
    return out;
}

Lines ModelAnyLines(std::string_view text) {
    Lines out;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            out.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            line.push_back(text[i]);
        }
    }
    if (!line.empty())
        out.push_back(line);
    return out;
}

struct LineCase {
    std::string name;
    std::string text;
    Lines index; // as index files are read
    Lines any;   // as reference copies are read
};

class LineReading : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineReading, SplitsAsEachReaderShould) {
    const LineCase& c = GetParam();
    EXPECT_EQ(ReadIndexLines(c.text), c.index);
    EXPECT_EQ(ReadAnyLines(c.text), c.any);
    EXPECT_EQ(ModelIndexLines(c.text), c.index);
    EXPECT_EQ(ModelAnyLines(c.text), c.any);
}

INSTANTIATE_TEST_SUITE_P(
    TextFile, LineReading,
    ::testing::Values(LineCase{"Empty", "", {}, {}},
                      LineCase{"Lf", "a\nb\n", {"a", "b"}, {"a", "b"}},
                      LineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
                      LineCase{"NoFinalEnd", "a\nb", {"a", "b"}, {"a", "b"}},
                      LineCase{"EmptyLines", "a\n\n\nb", {"a", "", "", "b"}, {"a", "", "", "b"}},
                      LineCase{"LoneCrDroppedOrSplits", "a\rb\nc", {"ab", "c"}, {"a", "b", "c"}},
                      LineCase{"CrOnly", "a\rb\r", {"ab"}, {"a", "b"}},
                      LineCase{"CrCrLf", "a\r\r\nb", {"a", "b"}, {"a", "", "b"}},
                      LineCase{"EndOfText", "a\nb\x1A\nc\n", {"a", "b"}, {"a", "b\x1A", "c"}},
                      LineCase{"Nul",
                               std::string("a\0b\nc", 5),
                               {std::string("a\0b", 3), "c"},
                               {std::string("a\0b", 3), "c"}},
                      LineCase{"BlankLineIsNotEmpty", "a\n \nb", {"a", " ", "b"}, {"a", " ", "b"}}),
    [](const auto& info) { return info.param.name; });

struct EdgeCase {
    std::string name;
    std::size_t at;   // where the line end goes
    std::string end;  // what it is
    std::size_t size; // length of the whole text
};

class LineEndsAtBlockEdges : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LineEndsAtBlockEdges, MatchTheByteByByteModel) {
    const EdgeCase& c = GetParam();
    std::string text(c.size, 'x');
    text.replace(c.at, c.end.size(), c.end);
    text.resize(c.size);
    EXPECT_EQ(ReadIndexLines(text), ModelIndexLines(text)) << c.name;
    EXPECT_EQ(ReadAnyLines(text), ModelAnyLines(text)) << c.name;
    // The same end repeated every few bytes puts it at every place in a stretch.
    for (std::size_t step = 1; step <= 70; step += 3) {
        std::string dense(c.size, 'y');
        for (std::size_t at = c.at % step; at + c.end.size() <= dense.size(); at += step)
            dense.replace(at, c.end.size(), c.end);
        EXPECT_EQ(ReadIndexLines(dense), ModelIndexLines(dense)) << c.name << " step " << step;
        EXPECT_EQ(ReadAnyLines(dense), ModelAnyLines(dense)) << c.name << " step " << step;
    }
}

INSTANTIATE_TEST_SUITE_P(
    TextFile, LineEndsAtBlockEdges,
    ::testing::Values(
        EdgeCase{"Lf15", 15, "\n", 100}, EdgeCase{"Lf16", 16, "\n", 100},
        EdgeCase{"Lf31", 31, "\n", 100}, EdgeCase{"Lf32", 32, "\n", 100},
        EdgeCase{"Lf63", 63, "\n", 130}, EdgeCase{"Lf64", 64, "\n", 130},
        EdgeCase{"LfLastByte", 63, "\n", 64}, EdgeCase{"LfAt127", 127, "\n", 128},
        EdgeCase{"CrAtBlockEnd", 63, "\r", 130}, EdgeCase{"CrLastByte", 63, "\r", 64},
        EdgeCase{"CrLfAcrossBlocks", 63, "\r\n", 130}, EdgeCase{"CrLfAt64", 64, "\r\n", 130},
        EdgeCase{"CrCrLfAcrossBlocks", 62, "\r\r\n", 130}, EdgeCase{"CrLfEndsText", 62, "\r\n", 64},
        EdgeCase{"EndOfTextAt64", 64, "\x1A\n", 130}, EdgeCase{"EndOfTextAt63", 63, "\r\x1A", 130},
        EdgeCase{"NoLineEnd", 0, "x", 200}, EdgeCase{"ShortText", 3, "\r\n", 7},
        EdgeCase{"OnlyLineEnd", 0, "\n", 1}, EdgeCase{"OnlyCr", 0, "\r", 1}),
    [](const auto& info) { return info.param.name; });

// The refresh counts stanzas over pieces of a file; it must count what the
// index reader makes rows of, wherever the pieces are cut.
TEST(TextFile, StanzaCounterCountsAsTheReaderReads) {
    auto model = [](const std::string& text) {
        std::uint64_t count = 0;
        bool package = false;
        for (const std::string& line : ModelIndexLines(text)) {
            if (line.empty()) {
                count += package ? 1 : 0;
                package = false;
            } else if (line.starts_with("Package:")) {
                package = true;
            }
        }
        return count + (package ? 1 : 0);
    };
    const std::string texts[] = {
        "",
        "Package: a",
        "Package: a\n\nPackage: b\n",
        "Package: a\r\n\r\nPackage: b\r\n",
        "Package: a\n\r\nName: x\n\nPackage: c\n\n\n",
        "Pack\rage: a\n\n\rPackage: b\n\nPackag\n\npackage: c\n\nPackage:",
        "Package: a\nPackage: a2\n\nName: no package\n\nPackage: b\x1A\n\nPackage: c\n",
        "Package: a\n\r\r\nPackage: b\n \nPackage: c\n\nPackage: d"};
    for (const std::string& text : texts) {
        for (std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(1000)}) {
            TextFile::TStanzaCounter counter;
            for (std::size_t at = 0; at < text.size(); at += piece)
                counter.Feed(std::string_view(text).substr(at, piece));
            EXPECT_EQ(counter.Count(), model(text)) << text << " in pieces of " << piece;
        }
    }
}

TEST(TextFile, CrOnlyTextOfManyLinesSplitsInLinearTime) {
    // Two million CR-ended lines: a reader that looks for the next LF from
    // every line start would need hours.
    std::string text;
    for (int i = 0; i < 2'000'000; ++i)
        text += "x\r";
    const auto lines = TextFile::SplitAnyLineEnds(text);
    ASSERT_EQ(lines.size(), 2'000'000u);
    EXPECT_EQ(lines.back(), "x");
}

struct Utf8Case {
    std::string text;
    bool valid;
};

class Utf8Validity : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, Judged) {
    EXPECT_EQ(TextFile::IsValidUtf8(GetParam().text), GetParam().valid) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(TextFile, Utf8Validity,
                         ::testing::Values(Utf8Case{"", true}, Utf8Case{"plain", true},
                                           Utf8Case{"\xD0\x9F\xD1\x80\xD0\xB8", true},
                                           Utf8Case{"\xF0\x9F\x98\x80", true},
                                           Utf8Case{"\xC0\xAF", false},         // overlong
                                           Utf8Case{"\xE0\x80\xAF", false},     // overlong
                                           Utf8Case{"\xED\xA0\x80", false},     // surrogate
                                           Utf8Case{"\xF4\x90\x80\x80", false}, // > U+10FFFF
                                           Utf8Case{"\xD0", false},             // truncated
                                           Utf8Case{"\x80", false},             // stray
                                           Utf8Case{"\xCF\xF0\xE8", false},     // Windows-1251
                                           Utf8Case{"\xFF\xFE", false}));

struct CutCase {
    std::string text;
    std::size_t max;
    std::string expected;
};

class Utf8Cut : public ::testing::TestWithParam<CutCase> {};

TEST_P(Utf8Cut, DropsOnlyAPartialSequence) {
    EXPECT_EQ(std::string(TextFile::CutUtf8(GetParam().text, GetParam().max)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextFile, Utf8Cut,
    ::testing::Values(CutCase{"abc", 5, "abc"}, CutCase{"abcdef", 3, "abc"},
                      CutCase{"ab\xD0\x9F", 3, "ab"},         // 2-byte cut after lead
                      CutCase{"ab\xD0\x9F", 4, "ab\xD0\x9F"}, // fits
                      CutCase{"a\xE2\x82\xAC", 3, "a"},       // 3-byte, cut after 2
                      CutCase{"a\xF0\x9F\x98\x80z", 4, "a"},  // 4-byte, cut after 3
                      CutCase{"a\xF0\x9F\x98\x80z", 5, "a\xF0\x9F\x98\x80"},
                      CutCase{"\xC3\xA9\x80\x80", 2, "\xC3\xA9"},     // stray continuation
                      CutCase{"\x80\x80\x80\x80\x80", 2, "\x80\x80"}, // no lead at all
                      CutCase{"\xD0\x9F", 0, ""}));

} // namespace
