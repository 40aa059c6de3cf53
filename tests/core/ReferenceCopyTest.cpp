#include "catalogue/ReferenceCopy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TVerdict = TReferenceCopy::TVerdict;

// One version of one identifier in two builds.
const std::string Builds = "Package: a\nVersion: 1\nArchitecture: iphoneos-arm\n\n"
                           "Package: a\nVersion: 1\nArchitecture: iphoneos-arm64\n";

struct TCheckCase {
    std::string name;
    std::string reference;
    std::string packageLine;
    std::string versionLine;
    TVerdict expected;
    std::string architectureLine = {};
};

class ReferenceChecks : public ::testing::TestWithParam<TCheckCase> {};

TEST_P(ReferenceChecks, GiveTheVerdict) {
    const TCheckCase& c = GetParam();
    const TReferenceCopy table(c.reference);
    EXPECT_EQ(table.Check(c.packageLine, c.versionLine, c.architectureLine), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceCopy, ReferenceChecks,
    ::testing::Values(
        TCheckCase{"Same", "Package: a\nVersion: 1\n", "Package: a", "Version: 1", TVerdict::Same},
        TCheckCase{"Changed", "Package: a\nVersion: 1\n", "Package: a", "Version: 2",
                   TVerdict::Changed},
        TCheckCase{"Missing", "Package: a\nVersion: 1\n", "Package: b", "Version: 1",
                   TVerdict::Missing},
        TCheckCase{"KeyInAnyCase", "pACKAGE: a\nVersion: 1\n", "Package: A", "Version: 1",
                   TVerdict::Same},
        TCheckCase{"VersionBeforePackage", "Version: 1\nPackage: a\n", "Package: a", "Version: 1",
                   TVerdict::Same},
        TCheckCase{"FirstVersionWins", "Package: a\nVersion: 1\nVersion: 2\n", "Package: a",
                   "Version: 1", TVerdict::Same},
        TCheckCase{"VersionNameIsCaseSensitive", "Package: a\nversion: 1\n", "Package: a",
                   "Version: 2", TVerdict::Same},
        TCheckCase{"NoVersionIsSame", "Package: a\nSize: 3\n", "Package: a", "Version: 9",
                   TVerdict::Same},
        // Every stanza counts, not only the first of an identifier.
        TCheckCase{"LaterStanzaOfTheIdentifier",
                   "Package: a\nVersion: 1\n\nPackage: a\nVersion: 2\n", "Package: a", "Version: 2",
                   TVerdict::Same},
        TCheckCase{"SameBuildOfSeveral", Builds, "Package: a", "Version: 1", TVerdict::Same,
                   "Architecture: iphoneos-arm64"},
        TCheckCase{"NewBuildOfAKnownVersion", Builds, "Package: a", "Version: 1", TVerdict::Changed,
                   "Architecture: iphoneos-arm64e"},
        TCheckCase{"BuildWithoutArchitecture", Builds, "Package: a", "Version: 1",
                   TVerdict::Changed},
        TCheckCase{"ArchitectureAddedSince", "Package: a\nVersion: 1\n", "Package: a", "Version: 1",
                   TVerdict::Changed, "Architecture: iphoneos-arm"},
        TCheckCase{"FirstArchitectureWins",
                   "Package: a\nArchitecture: all\nVersion: 1\nArchitecture: x\n", "Package: a",
                   "Version: 1", TVerdict::Same, "Architecture: all"},
        TCheckCase{"NoVersionMatchesEveryBuild", "Package: a\nArchitecture: x\n\n" + Builds,
                   "Package: a", "Version: 7", TVerdict::Same, "Architecture: y"},
        TCheckCase{"StanzasEndAtEmptyLines", "Package: a\n\nVersion: 1\n", "Package: a",
                   "Version: 2", TVerdict::Same},
        TCheckCase{"BlankLineDoesNotEnd", "Package: a\n \nVersion: 1\n", "Package: a", "Version: 2",
                   TVerdict::Changed},
        TCheckCase{"IndentedKeyIsNoKey", " Package: a\nVersion: 1\n", "Package: a", "Version: 1",
                   TVerdict::Missing},
        TCheckCase{"PrefixOnlyIsNoKey", "Packag: a\nVersion: 1\n", "Packag: a", "Version: 1",
                   TVerdict::Missing},
        TCheckCase{"CrLineEnds", "Package: a\rVersion: 1\r\rPackage: b\r\nVersion: 2\r\n",
                   "Package: b", "Version: 2", TVerdict::Same},
        TCheckCase{"EmptyPackageLine", "Package: a\n", "", "", TVerdict::Missing}),
    [](const auto& info) { return info.param.name; });

// Far more stanzas than the table is first sized for, given in two pieces
// (the first overwritten once added, as a reused read buffer is); then the
// table used again for another copy.
TEST(ReferenceCopy, GrowsWithoutLosingAStanzaAndForgetsThemAtReset) {
    std::string pieces[2];
    for (int i = 0; i < 3000; ++i)
        pieces[i / 1500] +=
            "Package: p" + std::to_string(i) + "\nVersion: " + std::to_string(i) + "\n\n";
    TReferenceCopy table;
    for (std::string& piece : pieces) {
        table.Add(piece);
        piece.assign(piece.size(), 'x');
    }
    EXPECT_EQ(table.size(), 6000u);
    for (int i = 0; i < 3000; ++i)
        ASSERT_EQ(table.Check("Package: p" + std::to_string(i), "Version: " + std::to_string(i)),
                  TVerdict::Same)
            << i;
    EXPECT_EQ(table.Check("Package: p1", "Version: 2"), TVerdict::Changed);
    EXPECT_EQ(table.Check("Package: p3000", "Version: 1"), TVerdict::Missing);
    table.Reset(0);
    table.Add("Package: q\nVersion: 1\n");
    EXPECT_EQ(table.Check("Package: p1", "Version: 1"), TVerdict::Missing);
    EXPECT_EQ(table.Check("Package: q", "Version: 1"), TVerdict::Same);
}

} // namespace
