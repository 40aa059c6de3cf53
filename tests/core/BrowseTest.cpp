#include "catalogue/Browse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TPackageRow Row(std::string_view caption, std::string_view package,
                std::string_view description = {}) {
    return TPackageRow({caption, {}, package, description, {}, {}});
}

TEST(BrowseNeedle, TrimsAndFoldsEveryLetter) {
    EXPECT_EQ(Browse::PrepareNeedle("  TweAK  "), "tweak");
    EXPECT_EQ(Browse::PrepareNeedle("\t\r\nA b\x01"), "a b");
    EXPECT_EQ(Browse::PrepareNeedle("ПРИ Ёж X"), "при ёж x");
    // Bytes that are not UTF-8 stay; a letter after them is still folded.
    EXPECT_EQ(Browse::PrepareNeedle("\xff\xd0Ж"), "\xff\xd0ж");
    EXPECT_EQ(Browse::PrepareNeedle(" \t "), "");
}

struct TMatchCase {
    const char* title;
    const char* caption;
    const char* description;
    const char* package;
    const char* search;
    bool matches;
};

class RowMatchCases : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(RowMatchCases, FindsTheTextInCaptionDescriptionOrIdentifier) {
    const TMatchCase& c = GetParam();
    const TPackageRow row = Row(c.caption, c.package, c.description);
    EXPECT_EQ(Browse::RowMatches(row, Browse::PrepareNeedle(c.search)), c.matches) << c.title;
}

INSTANTIATE_TEST_SUITE_P(
    Search, RowMatchCases,
    ::testing::Values(
        TMatchCase{"caption, any ASCII case", "Example Tweak Pack", "", "x", "  tweak  ", true},
        TMatchCase{"upper-case search", "example tweak pack", "", "x", "TWEAK", true},
        TMatchCase{"description", "A", "Makes TWEAKS", "x", "tweaks", true},
        TMatchCase{"identifier", "A", "", "com.Example.tweak", "example.TWEAK", true},
        TMatchCase{"inner blanks count", "Example Tweak Pack", "", "x", "example  tweak", false},
        TMatchCase{"Cyrillic capitals find lower case", "Твикер для Cydia", "", "x", "ТВИКЕР",
                   true},
        TMatchCase{"Cyrillic lower case finds capitals", "A", "ПРИВЕТ МИР", "x", "привет", true},
        TMatchCase{"Greek and accented letters", "ΣΟΦΊΑ Élan", "", "x", "σοφία éLAN", true},
        TMatchCase{"other Cyrillic word", "Твикер", "", "x", "твики", false},
        TMatchCase{"needle longer than every field", "ab", "cd", "ef", "abcdef", false},
        TMatchCase{"match at the very end", "xxxxxxxxxz", "", "y", "xz", true},
        TMatchCase{"partial match at the end is none", "abcab", "", "y", "abc!", false},
        TMatchCase{"non-letter first byte", "v1.0-beta", "", "y", "-BETA", true}));

// The search scans long texts in blocks; every position, both letter cases and
// bytes that only look like letters once bit 0x20 is set must agree with a
// plain search of a lowered copy.
TEST(BrowseMatch, AgreesWithASearchOfALoweredCopyAtEveryPosition) {
    const std::string alphabet = "aAbB@`[{-_ \x80\xc1\xe1zZ";
    unsigned seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 3000; ++round) {
        std::string text(next() % 70, ' ');
        for (char& c : text)
            c = alphabet[next() % alphabet.size()];
        std::string needle(1 + next() % 3, ' ');
        for (char& c : needle)
            c = alphabet[next() % alphabet.size()];
        const std::string prepared = Browse::PrepareNeedle(needle);
        if (prepared.empty())
            continue;
        std::string lowered = text;
        for (char& c : lowered)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c + 32);
        const bool want = lowered.find(prepared) != std::string::npos;
        EXPECT_EQ(Browse::RowMatches(Row(text, ""), prepared), want)
            << '"' << text << "\" / \"" << prepared << '"';
    }
    // A match that starts in one block of sixteen and ends in the next, and one
    // in the last possible position.
    const std::string longText = std::string(15, '.') + "Tweak" + std::string(40, '.') + "END";
    EXPECT_TRUE(Browse::RowMatches(Row(longText, ""), "tweak"));
    EXPECT_TRUE(Browse::RowMatches(Row(longText, ""), "end"));
    EXPECT_FALSE(Browse::RowMatches(Row(longText, ""), "end."));
}

class FindNextTest : public ::testing::Test {
protected:
    // 0: no match, 1: caption match, 2: no match, 3: identifier match, 4: no match
    TPackageRows rows_ = {Row("Alpha", "com.example.alpha"), Row("Example Tweak Pack", "a.b"),
                          Row("Gamma", "c.d"), Row("Delta", "com.example.tweak"),
                          Row("Omega", "e.f")};
};

TEST_F(FindNextTest, WalksDownwardsThenWrapsToClearAndStartsOver) {
    const char* text = "  tweak  ";
    std::vector<int> visited;
    int selected = -1;
    for (int click = 0; click < 5; ++click) {
        const Browse::TSearchStep step = Browse::FindNext(rows_, selected, text);
        ASSERT_TRUE(step.Searched);
        selected = step.Row;
        visited.push_back(selected);
    }
    EXPECT_EQ(visited, (std::vector<int>{1, 3, -1, 1, 3}));
}

// One step from a selection: the row it selects (-1 clears the selection)
// and whether it searched at all.
struct TStepCase {
    int From;
    const char* Text;
    int Row;
    bool Searched;
};

TEST_F(FindNextTest, OneStepFromEachKindOfSelection) {
    // The last row matches now, but a step from it tests only row zero.
    rows_[4].SetCaption("tweak");
    const TStepCase cases[] = {
        {0, "tweak", 1, true},   {3, "alpha", 0, true},   {4, "tweak", -1, true},
        {4, "alpha", 0, true},   {40, "tweak", -1, true}, {40, "alpha", 0, true},
        {1, "zzz", -1, true},    {2, "", 2, false},       {2, "   ", 2, false},
        {2, "\t\r\n", 2, false},
    };
    for (const TStepCase& c : cases) {
        const Browse::TSearchStep step = Browse::FindNext(rows_, c.From, c.Text);
        EXPECT_EQ(step.Row, c.Row) << c.From << " \"" << c.Text << '"';
        EXPECT_EQ(step.Searched, c.Searched) << c.From << " \"" << c.Text << '"';
    }
    const Browse::TSearchStep empty = Browse::FindNext({}, -1, "tweak");
    EXPECT_FALSE(empty.Searched);
    EXPECT_EQ(empty.Row, -1);
}

TEST(FindIdentifier, ExactUntrimmedAndCaseSensitive) {
    const TPackageRows rows = {Row("A", "com.example.Tweak"), Row("B", "com.example.tweak"),
                               Row("C", "com.example.tweak"), Row("D", " com.example.x")};
    EXPECT_EQ(Browse::FindIdentifier(rows, "com.example.tweak"), 1);
    EXPECT_EQ(Browse::FindIdentifier(rows, "com.example.Tweak"), 0);
    EXPECT_EQ(Browse::FindIdentifier(rows, "COM.EXAMPLE.TWEAK"), -1);
    EXPECT_EQ(Browse::FindIdentifier(rows, "com.example.tweak "), -1);
    EXPECT_EQ(Browse::FindIdentifier(rows, "com.example.x"), -1);
    EXPECT_EQ(Browse::FindIdentifier(rows, " com.example.x"), 3);
    EXPECT_EQ(Browse::FindIdentifier({}, "a"), -1);
}

TEST(BackTarget, SelectsNothingBeyondTheList) {
    EXPECT_EQ(Browse::BackTarget(-1, 10), -1);
    EXPECT_EQ(Browse::BackTarget(0, 10), 0);
    EXPECT_EQ(Browse::BackTarget(9, 10), 9);
    EXPECT_EQ(Browse::BackTarget(10, 10), -1);
    EXPECT_EQ(Browse::BackTarget(3, 0), -1);
}

TEST(FindCategory, IgnoresLetterCase) {
    const std::vector<std::string> entries = {" - Все категории - ", "Themes", "Tweaks",
                                              "\xd0\xa2\xd0\xb5\xd0\xbc\xd1\x8b", "\xff"};
    EXPECT_EQ(Browse::FindCategory(entries, "tweaks"), 2);
    EXPECT_EQ(Browse::FindCategory(entries, "THEMES"), 1);
    EXPECT_EQ(Browse::FindCategory(entries, "\xd1\x82\xd0\xb5\xd0\xbc\xd1\x8b"), 3); // "темы"
    EXPECT_EQ(Browse::FindCategory(entries, "\xff"), 4);
    EXPECT_EQ(Browse::FindCategory(entries, "\xfe"), -1);
    EXPECT_EQ(Browse::FindCategory(entries, ""), -1);
    EXPECT_EQ(Browse::FindCategory(entries, "Tweak"), -1);
}

} // namespace
