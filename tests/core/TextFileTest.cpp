#include "base/TextFile.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using TLines = std::vector<std::string>;

TLines ReadIndexLines(std::string_view text) {
    TLines out;
    TextFile::TIndexLines reader(text);
    std::string_view line;
    while (reader.Next(line))
        out.emplace_back(line);
    return out;
}

TLines ReadAnyLines(std::string_view text) {
    TLines out;
    for (std::string_view l : TextFile::SplitAnyLineEnds(text))
        out.emplace_back(l);
    return out;
}

// Byte-by-byte models of the two readers, which look at 64 bytes at a time:
// the table below keeps the models honest, the block edges are then
// compared with them.
TLines ModelIndexLines(std::string_view text) {
    TLines out;
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

TLines ModelAnyLines(std::string_view text) {
    TLines out;
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

TEST(TextFile, EachReaderSplitsLinesAsItShould) {
    struct TCase {
        std::string Text;
        TLines Index; // as index files are read
        TLines Any;   // as reference copies are read
    };
    const TCase cases[] = {
        {"", {}, {}},
        {"a\nb\n", {"a", "b"}, {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}, {"a", "b"}},
        {"a\nb", {"a", "b"}, {"a", "b"}},
        {"a\n\n\nb", {"a", "", "", "b"}, {"a", "", "", "b"}},
        {"a\rb\nc", {"ab", "c"}, {"a", "b", "c"}}, // a lone CR dropped, or a line end
        {"a\rb\r", {"ab"}, {"a", "b"}},
        {"a\r\r\nb", {"a", "b"}, {"a", "", "b"}},
        {"a\nb\x1A\nc\n", {"a", "b"}, {"a", "b\x1A", "c"}}, // end of text
        {std::string("a\0b\nc", 5), {std::string("a\0b", 3), "c"}, {std::string("a\0b", 3), "c"}},
        {"a\n \nb", {"a", " ", "b"}, {"a", " ", "b"}}, // a blank line is not empty
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ReadIndexLines(c.Text), c.Index) << c.Text;
        EXPECT_EQ(ReadAnyLines(c.Text), c.Any) << c.Text;
        EXPECT_EQ(ModelIndexLines(c.Text), c.Index) << c.Text;
        EXPECT_EQ(ModelAnyLines(c.Text), c.Any) << c.Text;
    }
}

// Every line end at every place around the edges of the 64-byte blocks,
// alone and repeated every few bytes, and in texts that end there; "x"
// makes a text of no line end at all.
TEST(TextFile, LineEndsAtBlockEdgesMatchTheByteByByteModel) {
    for (const std::string end : {"\n", "\r", "\r\n", "\r\r\n", "\x1A\n", "\r\x1A", "x"}) {
        for (std::size_t size : {1, 7, 64, 65, 128, 130, 200}) {
            for (std::size_t at = 0; at + end.size() <= size; ++at) {
                std::string text(size, 'x');
                text.replace(at, end.size(), end);
                EXPECT_EQ(ReadIndexLines(text), ModelIndexLines(text)) << at << " of " << size;
                EXPECT_EQ(ReadAnyLines(text), ModelAnyLines(text)) << at << " of " << size;
            }
        }
        for (std::size_t step = 1; step <= 70; step += 3) {
            std::string dense(130, 'y');
            for (std::size_t at = step / 2; at + end.size() <= dense.size(); at += step)
                dense.replace(at, end.size(), end);
            EXPECT_EQ(ReadIndexLines(dense), ModelIndexLines(dense)) << "step " << step;
            EXPECT_EQ(ReadAnyLines(dense), ModelAnyLines(dense)) << "step " << step;
        }
    }
}

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

TEST(TextFile, Utf8IsCutOnlyBetweenSequences) {
    const std::tuple<std::string, std::size_t, std::string> cuts[] = {
        {"abc", 5, "abc"},
        {"abcdef", 3, "abc"},
        {"ab\xD0\x9F", 3, "ab"},         // 2-byte cut after lead
        {"ab\xD0\x9F", 4, "ab\xD0\x9F"}, // fits
        {"a\xE2\x82\xAC", 3, "a"},       // 3-byte, cut after 2
        {"a\xF0\x9F\x98\x80z", 4, "a"},  // 4-byte, cut after 3
        {"a\xF0\x9F\x98\x80z", 5, "a\xF0\x9F\x98\x80"},
        {"\xC3\xA9\x80\x80", 2, "\xC3\xA9"},     // stray continuation
        {"\x80\x80\x80\x80\x80", 2, "\x80\x80"}, // no lead at all
        {"\xD0\x9F", 0, ""}};
    for (const auto& [text, max, expected] : cuts)
        EXPECT_EQ(std::string(TextFile::CutUtf8(text, max)), expected) << text << " at " << max;
    // Long ASCII runs are passed over by words: a bad or cut sequence after
    // them, or one across a word's edge, still counts.
    const std::pair<std::string, bool> texts[] = {{"plain ASCII, longer than a word", true},
                                                  {"12345678\xD0\x9F", true},
                                                  {"1234567\xD0\x9F", true},
                                                  {"1234567812345678\xFF", false},
                                                  {"123456781234567\xD0", false},
                                                  {"12345678\xED\xA0\x80", false}}; // a surrogate
    for (const auto& [text, valid] : texts)
        EXPECT_EQ(TextFile::IsValidUtf8(text), valid) << text;
}

} // namespace
