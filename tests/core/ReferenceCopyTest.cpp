#include "catalogue/ReferenceCopy.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using TVerdict = TReferenceCopy::TVerdict;

// One version of one identifier in two builds.
const std::string Builds = "Package: a\nVersion: 1\nArchitecture: iphoneos-arm\n\n"
                           "Package: a\nVersion: 1\nArchitecture: iphoneos-arm64\n";

struct CheckCase {
    std::string name;
    std::string reference;
    std::string packageLine;
    std::string versionLine;
    TVerdict expected;
    std::string architectureLine = {};
};

class ReferenceChecks : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ReferenceChecks, GiveTheVerdict) {
    const CheckCase& c = GetParam();
    const TReferenceCopy table(c.reference);
    EXPECT_EQ(table.Check(c.packageLine, c.versionLine, c.architectureLine), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ReferenceCopy, ReferenceChecks,
    ::testing::Values(
        CheckCase{"Same", "Package: a\nVersion: 1\n", "Package: a", "Version: 1", TVerdict::Same},
        CheckCase{"Changed", "Package: a\nVersion: 1\n", "Package: a", "Version: 2",
                  TVerdict::Changed},
        CheckCase{"Missing", "Package: a\nVersion: 1\n", "Package: b", "Version: 1",
                  TVerdict::Missing},
        CheckCase{"KeyInAnyCase", "pACKAGE: a\nVersion: 1\n", "Package: A", "Version: 1",
                  TVerdict::Same},
        CheckCase{"VersionBeforePackage", "Version: 1\nPackage: a\n", "Package: a", "Version: 1",
                  TVerdict::Same},
        CheckCase{"FirstVersionWins", "Package: a\nVersion: 1\nVersion: 2\n", "Package: a",
                  "Version: 1", TVerdict::Same},
        CheckCase{"VersionNameIsCaseSensitive", "Package: a\nversion: 1\n", "Package: a",
                  "Version: 2", TVerdict::Same},
        CheckCase{"NoVersionIsSame", "Package: a\nSize: 3\n", "Package: a", "Version: 9",
                  TVerdict::Same},
        // Every stanza counts, not only the first of an identifier.
        CheckCase{"LaterStanzaOfTheIdentifier",
                  "Package: a\nVersion: 1\n\nPackage: a\nVersion: 2\n", "Package: a", "Version: 2",
                  TVerdict::Same},
        CheckCase{"SameBuildOfSeveral", Builds, "Package: a", "Version: 1", TVerdict::Same,
                  "Architecture: iphoneos-arm64"},
        CheckCase{"NewBuildOfAKnownVersion", Builds, "Package: a", "Version: 1", TVerdict::Changed,
                  "Architecture: iphoneos-arm64e"},
        CheckCase{"BuildWithoutArchitecture", Builds, "Package: a", "Version: 1",
                  TVerdict::Changed},
        CheckCase{"ArchitectureAddedSince", "Package: a\nVersion: 1\n", "Package: a", "Version: 1",
                  TVerdict::Changed, "Architecture: iphoneos-arm"},
        CheckCase{"FirstArchitectureWins",
                  "Package: a\nArchitecture: all\nVersion: 1\nArchitecture: x\n", "Package: a",
                  "Version: 1", TVerdict::Same, "Architecture: all"},
        CheckCase{"NoVersionMatchesEveryBuild", "Package: a\nArchitecture: x\n\n" + Builds,
                  "Package: a", "Version: 7", TVerdict::Same, "Architecture: y"},
        CheckCase{"StanzasEndAtEmptyLines", "Package: a\n\nVersion: 1\n", "Package: a",
                  "Version: 2", TVerdict::Same},
        CheckCase{"BlankLineDoesNotEnd", "Package: a\n \nVersion: 1\n", "Package: a", "Version: 2",
                  TVerdict::Changed},
        CheckCase{"IndentedKeyIsNoKey", " Package: a\nVersion: 1\n", "Package: a", "Version: 1",
                  TVerdict::Missing},
        CheckCase{"PrefixOnlyIsNoKey", "Packag: a\nVersion: 1\n", "Packag: a", "Version: 1",
                  TVerdict::Missing},
        CheckCase{"CrLineEnds", "Package: a\rVersion: 1\r\rPackage: b\r\nVersion: 2\r\n",
                  "Package: b", "Version: 2", TVerdict::Same},
        CheckCase{"EmptyPackageLine", "Package: a\n", "", "", TVerdict::Missing}),
    [](const auto& info) { return info.param.name; });

} // namespace
