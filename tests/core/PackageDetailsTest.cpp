#include "catalogue/PackageDetails.h"
#include "catalogue/StanzaOffsets.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>

namespace {

class FindPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        folder_ = dir_.path() + "/";
    }

    void Write(const QString& name, const std::string& bytes) {
        TestFiles::WriteBytes(folder_ + name, QByteArray::fromStdString(bytes));
    }

    // Looks Package up in IndexFile as it stands.
    TDebianInfo Lookup(const std::string& package, bool& found,
                       const std::string& indexFile = "repo.example.org_._Packages") {
        TDebianInfo info;
        info.Package = package;
        info.IndexFile = indexFile;
        found = FindPackage(info, folder_);
        return info;
    }

    // Writes Bytes to IndexFile and looks Package up twice: the first lookup
    // scans the index, the second reads only what its offsets point at.
    TDebianInfo Find(const std::string& package, const std::string& bytes, bool& found,
                     const std::string& indexFile = "repo.example.org_._Packages") {
        Write(QString::fromStdString(indexFile), bytes);
        const TDebianInfo info = Lookup(package, found, indexFile);
        bool again = false;
        EXPECT_EQ(Lookup(package, again, indexFile), info);
        EXPECT_EQ(again, found);
        return info;
    }

    QTemporaryDir dir_;
    QString folder_;
};

TEST_F(FindPackageTest, FillsEveryFieldOfTheStanzaAndComputesTheAddress) {
    const std::string index = "Package: other\nName: Other\nSize: 1\n\n"
                              "Name: Foo Tweak\n"
                              "Package: com.example.foo\n"
                              "Version: 1.0-2\n"
                              "Author: Ivan <ivan@example.org>\n"
                              "Maintainer: Team <team@example.org>\n"
                              "Description: does things\n continuation line\n"
                              "Size: 1234\n"
                              "Homepage: http://example.org/\n"
                              "Filename: ./debs/foo_1.0_iphoneos-arm.deb\n"
                              "Depends: a, b (>= 1)\n"
                              "Pre-Depends: c\n"
                              "Depiction: http://example.org/d\n"
                              "Section: Tweaks\n"
                              "\n"
                              "Package: later\nVersion: 9\n";
    bool found = false;
    const TDebianInfo info = Find("com.example.foo", index, found);
    ASSERT_TRUE(found);
    TDebianInfo want;
    want.Package = "com.example.foo";
    want.Name = "Foo Tweak";
    want.Version = "1.0-2";
    want.Author = "Ivan <ivan@example.org>";
    want.Maintainer = "Team <team@example.org>";
    want.Description = "does things";
    want.Size = "1234";
    want.Homepage = "http://example.org/";
    want.Filename = "http://repo.example.org/debs/foo_1.0_iphoneos-arm.deb";
    want.Depends = "a, b (>= 1)";
    want.PreDepends = "c";
    want.IndexFile = "repo.example.org_._Packages";
    want.Depiction = "http://example.org/d";
    want.Section = "Tweaks";
    want.LocalName = "foo_1.0_iphoneos-arm.deb";
    EXPECT_EQ(info, want);
}

// The rows rewrite one index in place, each read again as the panel would.
TEST_F(FindPackageTest, ScansAsTheDetailsPanelExpects) {
    const struct {
        const char* Title;
        const char* Index;
        bool Found;
        const char* Name;
        const char* Version;
        const char* Size;
    } cases[] = {
        {"field names in any case", "PACKAGE: foo\nvErSiOn: 2\nSIZE: 7\n", true, "foo", "2", "7"},
        {"no blank after the colon is no field", "Package: foo\nSize:1234\nVersion:1.0\n", true,
         "foo", "", ""},
        {"two blanks keep the second in the value", "Package: foo\nVersion:  1.0 \n", true, "foo",
         " 1.0 ", ""},
        {"first stanza of the identifier wins",
         "Package: foo\nVersion: 1\nSize: 10\n\nPackage: foo\nVersion: 2\nSize: 20\n", true, "foo",
         "1", "10"},
        {"fields before the Package line count", "Version: 3\nSize: 5\nPackage: foo\n", true, "foo",
         "3", "5"},
        {"earlier stanza leaves nothing behind",
         "Package: bar\nName: Bar\nSize: 99\n\nPackage: foo\nVersion: 1\n", true, "foo", "1", ""},
        {"identifier compares exactly", "Package: Foo\nVersion: 1\n", false, "foo", "1", ""},
        {"not found keeps the last stanza's fields", "Package: bar\nName: Bar\nVersion: 4\n", false,
         "Bar", "4", ""},
        {"a later line replaces an earlier one", "Package: foo\nVersion: 1\nVersion: 2\n", true,
         "foo", "2", ""},
        {"invalid UTF-8 name falls back to the identifier", "Package: foo\nName: \xff\xfe bad\n",
         true, "foo", "", ""},
        {"the scan stops at the empty line after the found stanza",
         "Package: foo\nVersion: 1\n\n\nVersion: 2\nPackage: foo\n", true, "foo", "1", ""},
        {"line of blanks does not end a stanza", "Package: foo\n \nVersion: 5\n", true, "foo", "5",
         ""},
        {"lone CRs and CR LF as the index reader reads them",
         "Package: bar\r\n\r\nPack\rage: foo\r\nVer\rsion: 6\r\n\r\nPackage: foo\n", true, "foo",
         "6", ""},
        {"nothing after a byte 0x1A", "Package: bar\n\x1A\n\nPackage: foo\n", false, "foo", "", ""},
        {"identifier first met in another field",
         "Package: a\nDepends: foo\n\nPackage: foo\nVersion: 2\n", true, "foo", "2", ""},
        {"fields before the identifier, CR LF",
         "Version: 4\r\nPackage: foo\r\n\r\nPackage: foo\r\nVersion: 5\r\n", true, "foo", "4", ""},
        {"near misses", "Package:  foo\nXPackage: foo\nPackage: foo2\n\nPackage: foo\nVersion: 9\n",
         true, "foo", "9", ""},
        {"empty first line, identifier on the last line", "\nVersion: 13\nPackage: foo", true,
         "foo", "13", ""},
        {"the same identifier twice in one stanza", "Package: foo\nPackage: foo\nVersion: 7\n",
         true, "foo", "7", ""},
        {"edited to hold another package", "Package: bar\nVersion: 4\n\n", false, "foo", "", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        bool found = false;
        const TDebianInfo info = Find("foo", c.Index, found);
        EXPECT_EQ(found, c.Found);
        EXPECT_EQ(info.Name, c.Name);
        EXPECT_EQ(info.Version, c.Version);
        EXPECT_EQ(info.Size, c.Size);
    }
}

// The index is read piece by piece. Piece boundaries cut the stanzas below at
// every byte of their first lines (in the identifier, between CR and LF,
// before a line end); the lookups meet offsets unknown, partly known and
// complete, and an identifier the index lacks.
TEST_F(FindPackageTest, LinesCutByTheReadPiecesAreRead) {
    const char* shapes[] = {"Version: %d\nPackage: p%d\n\n", "Version: %d\r\npACKAGE: p%d\r\n\r\n",
                            "Version: %d\nPa\rckage: p%d\n\r\n"};
    std::string index;
    constexpr int Count = 30;
    for (int k = 0; k < Count; ++k) {
        // One long line that crosses a boundary, then the stanza K bytes
        // before the next one.
        const std::size_t fill = std::size_t(k + 2) * StanzaOffsets::PieceBytes - k - index.size();
        index += "Description: " + std::string(fill - 15, 'x') + "\n\n";
        char stanza[64];
        std::snprintf(stanza, sizeof stanza, shapes[k % 3], k, k);
        index += stanza;
    }
    index += "\x1APackage: p99\nVersion: 99\n";
    Write("repo.example.org_._Packages", index);
    for (int i = 0; i <= Count; ++i) {
        const int k = i == Count / 2 ? 99 : i * 7 % Count;
        bool found = false;
        const TDebianInfo info = Lookup("p" + std::to_string(k), found);
        EXPECT_EQ(found, k != 99) << k;
        EXPECT_EQ(info.Version, k == 99 ? "" : std::to_string(k)) << k;
    }
}

TEST_F(FindPackageTest, DecodedFieldsDropInvalidUtf8ButRawFieldsKeepBytes) {
    bool found = false;
    const TDebianInfo info = Find("foo",
                                  "Package: foo\nName: \xd0\x9f\xd1\x80\xd0\xb8\nAuthor: \xc0\xaf\n"
                                  "Maintainer: ok\nDescription: \xed\xa0\x80\nSection: \xff\n",
                                  found);
    ASSERT_TRUE(found);
    EXPECT_EQ(info.Name, "\xd0\x9f\xd1\x80\xd0\xb8");
    EXPECT_EQ(info.Author, "");
    EXPECT_EQ(info.Maintainer, "ok");
    EXPECT_EQ(info.Description, "");
    EXPECT_EQ(info.Section, "\xff");
}

TEST_F(FindPackageTest, EarlierContentOfTheRecordIsCleared) {
    // The folder is given without its trailing separator.
    Write("idx_Packages", "Package: foo\n");
    TDebianInfo info;
    info.Package = "foo";
    info.IndexFile = "idx_Packages";
    info.Version = "stale";
    info.Homepage = "stale";
    ASSERT_TRUE(FindPackage(info, dir_.path()));
    EXPECT_EQ(info.Version, "");
    EXPECT_EQ(info.Homepage, "");
    EXPECT_EQ(info.Package, "foo");
    EXPECT_EQ(info.IndexFile, "idx_Packages");
}

TEST_F(FindPackageTest, AReplacedOrEditedIndexIsReadAgain) {
    bool found = false;
    EXPECT_EQ(Find("foo", "Package: foo\nVersion: 1\n", found).Version, "1");
    // Replaced under the same name, as the refresh stores an index.
    Write("next_Packages", "Package: bar\n\nPackage: foo\nVersion: 2\n");
    ASSERT_TRUE(QFile::remove(folder_ + "repo.example.org_._Packages"));
    ASSERT_TRUE(QFile::rename(folder_ + "next_Packages", folder_ + "repo.example.org_._Packages"));
    TDebianInfo info;
    info.Package = "foo";
    info.IndexFile = "repo.example.org_._Packages";
    EXPECT_TRUE(FindPackage(info, folder_));
    EXPECT_EQ(info.Version, "2");
    // Edited in place to the same size and given its old time back: the file
    // looks unchanged, yet what the old places no longer hold is found.
    const QString path = folder_ + "repo.example.org_._Packages";
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    Write("repo.example.org_._Packages", "Version: 5\nPackage: foo\n\nPackage: bar\n");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    EXPECT_TRUE(FindPackage(info, folder_));
    EXPECT_EQ(info.Version, "5");
}

TEST_F(FindPackageTest, ARowFindsItsOwnBuild) {
    // Three builds of one identifier, then another version; the first
    // stanza is none of the builds asked for below but the first.
    const std::string index =
        "Package: elite\nVersion: 5.0\nArchitecture: iphoneos-arm\nSize: 1\n"
        "Filename: debs/elite_5.0.deb\n\n"
        "Package: elite\nVersion: 5.2.2\nArchitecture: iphoneos-arm64\nSize: 2\n"
        "Filename: debs/elite_5.2.2_arm64.deb\n\n"
        "Package: elite\nArchitecture: iphoneos-arm64e\nSize: 3\n"
        "Filename: debs/elite_5.2.2_arm64e.deb\nVersion: 5.2.2\n\n"
        "Package: other\nVersion: 5.2.2\nArchitecture: iphoneos-arm64e\n";
    TestFiles::WriteBytes(dir_.filePath("r_Packages"), QByteArray::fromStdString(index));
    const struct {
        TPackageKey key;
        bool found;
        const char* size;
        const char* address;
    } cases[] = {
        {{"elite", "5.0", TArchitecture("iphoneos-arm")}, true, "1", "http://r/debs/elite_5.0.deb"},
        {{"elite", "5.2.2", TArchitecture("iphoneos-arm64")},
         true,
         "2",
         "http://r/debs/elite_5.2.2_arm64.deb"},
        {{"elite", "5.2.2", TArchitecture("iphoneos-arm64e")},
         true,
         "3",
         "http://r/debs/elite_5.2.2_arm64e.deb"},
        // Another build or version is never shown in its place.
        {{"elite", "5.2.2", TArchitecture("iphoneos-arm")}, false, "", "http://r"},
        {{"elite", "5.1", TArchitecture("iphoneos-arm64")}, false, "", "http://r"},
    };
    for (const auto& c : cases) {
        TDebianInfo info;
        info.Package = c.key.Package;
        info.IndexFile = "r_Packages";
        EXPECT_EQ(FindPackage(info, dir_.path(), c.key), c.found) << c.key.Version;
        EXPECT_EQ(info.Size, c.size) << c.key.Version;
        EXPECT_EQ(info.Filename, c.address) << c.key.Version;
        if (c.found) {
            EXPECT_EQ(info.Architecture, c.key.Architecture.View());
        }
    }
}

TEST_F(FindPackageTest, UnsafeOrMissingIndexFilesAreNeverRead) {
    // A file one level up that a hand-edited list could point at.
    QDir(folder_).mkdir("proc");
    Write("secret_Packages", "Package: foo\nVersion: leaked\n");
    Write("proc/inner", "Package: foo\nVersion: leaked\n");
    const QString proc = folder_ + "proc/";
    ASSERT_EQ(::mkfifo(QFile::encodeName(proc + "fifo_Packages").constData(), 0600), 0);
    const std::string names[] = {
        "../secret_Packages", "", ".", "..", "a/b", std::string("inner\0zz", 8), "fifo_Packages",
        "missing_Packages"};
    for (const std::string& name : names) {
        TDebianInfo info;
        info.Package = "foo";
        info.IndexFile = name;
        EXPECT_FALSE(FindPackage(info, proc)) << name;
        EXPECT_EQ(info.Version, "") << name;
        EXPECT_EQ(info.Name, "foo") << name;
        EXPECT_TRUE(info.Filename.starts_with("http://")) << name;
    }
}

struct TAddressCase {
    const char* IndexFile;
    const char* Filename;
    const char* Address;
};

class DownloadAddressCases : public ::testing::TestWithParam<TAddressCase> {};

TEST_P(DownloadAddressCases, JoinsSourceAndFilename) {
    const TAddressCase& c = GetParam();
    EXPECT_EQ(DownloadAddress(c.IndexFile, c.Filename), c.Address)
        << c.IndexFile << " + " << c.Filename;
}

INSTANTIATE_TEST_SUITE_P(
    Details, DownloadAddressCases,
    ::testing::Values(
        TAddressCase{"repo.example.org_._Packages", "debs/foo_1.0_iphoneos-arm.deb",
                     "http://repo.example.org/debs/foo_1.0_iphoneos-arm.deb"},
        TAddressCase{"repo.example.org_._Packages", "./debs/foo_1.0_iphoneos-arm.deb",
                     "http://repo.example.org/debs/foo_1.0_iphoneos-arm.deb"},
        TAddressCase{"apt.example.org_dists_stable_main_binary-iphoneos-arm_Packages",
                     "pool/main/f/foo/foo_1.0_iphoneos-arm.deb",
                     "http://apt.example.org/pool/main/f/foo/foo_1.0_iphoneos-arm.deb"},
        TAddressCase{"apt.example.org_DISTS_stable_Packages", "pool/x.deb",
                     "http://apt.example.org/pool/x.deb"},
        // Sources added by hand get the separator the plain join would miss.
        TAddressCase{"repo.example.org_Packages", "debs/foo.deb",
                     "http://repo.example.org/debs/foo.deb"},
        TAddressCase{"repo.example.org_cydia_packages", "debs/foo.deb",
                     "http://repo.example.org/cydia/debs/foo.deb"},
        TAddressCase{"repo.example.org_Packages", "./debs/foo.deb",
                     "http://repo.example.org/debs/foo.deb"},
        TAddressCase{"repo.example.org_Packages", "/debs/foo.deb",
                     "http://repo.example.org/debs/foo.deb"},
        TAddressCase{"repo.example.org_Packages", "", "http://repo.example.org"},
        TAddressCase{"repo.example.org_._Packages", "", "http://repo.example.org/"},
        // ".." never climbs out of the source.
        TAddressCase{"repo.example.org_._Packages", "debs/../foo.deb",
                     "http://repo.example.org/debs/foo.deb"},
        TAddressCase{"apt.example.org_dists_stable_Packages", "../../x.deb",
                     "http://apt.example.org/x.deb"},
        TAddressCase{"repo.example.org_Packages", "../../x.deb", "http://repo.example.org/x.deb"},
        TAddressCase{"repo.example.org_list", "debs/foo.deb",
                     "http://repo.example.org/listdebs/foo.deb"},
        // A quoted "_" of the source's path is a "_" again.
        TAddressCase{"host_archive%5fzhaonan_._Packages", "debs/a_1.0.deb",
                     "http://host/archive_zhaonan/debs/a_1.0.deb"}));

TEST(Details, DownloadAddressKeepsTheSourcesHttps) {
    EXPECT_EQ(DownloadAddress("host_repo_._Packages", "./debs/a.deb", true),
              "https://host/repo/debs/a.deb");
    EXPECT_EQ(DownloadAddress("host_repo_._Packages", "http://cdn.example.org/a.deb", true),
              "http://cdn.example.org/a.deb");
}

struct TAuthorCase {
    const char* Author;
    const char* Text;
    const char* Address;
};

class SplitAuthorCases : public ::testing::TestWithParam<TAuthorCase> {};

TEST_P(SplitAuthorCases, SplitsNameAndAddress) {
    const TAuthorCase& c = GetParam();
    const TAuthorLink link = SplitAuthor(c.Author);
    EXPECT_EQ(link.Text, c.Text) << c.Author;
    EXPECT_EQ(link.Address, c.Address) << c.Author;
}

INSTANTIATE_TEST_SUITE_P(
    Details, SplitAuthorCases,
    ::testing::Values(TAuthorCase{"Ivan Petrov <ivan@example.org>", "Ivan Petrov",
                                  "ivan@example.org"},
                      TAuthorCase{"  Ivan  < ivan@example.org>", "Ivan", "ivan@example.org"},
                      TAuthorCase{"a <b<c>> ", "a", "bc"}, TAuthorCase{"<x@y>", "", "x@y"},
                      TAuthorCase{"ivan@example.org", "ivan@example.org", "ivan@example.org"},
                      TAuthorCase{" handle ", " handle ", " handle "}, TAuthorCase{"", "", ""}));

TEST(DependsDisplay, SpellsOutSeparators) {
    EXPECT_EQ(DependsDisplay("libexample (>= 0.9),  libfoo"), "libexample (>= 0.9), libfoo");
    EXPECT_EQ(DependsDisplay("a,b(>=1)"), "a, b (>= 1)");
    EXPECT_EQ(DependsDisplay("a | b (= 2)"), "a|b (= 2)");
    EXPECT_EQ(DependsDisplay(""), "");
}

TEST(NextDependency, CyclesThroughTheIdentifiers) {
    const std::string label = "a, b (>= 1.0), c";
    const char* steps[][2] = {{"", "a"},  {"a", "b"}, {"b", "c"},
                              {"c", "a"}, {"x", "a"}, {"b (>= 1.0)", "a"}};
    for (const auto& step : steps)
        EXPECT_EQ(NextDependency(label, step[0]), step[1]) << "after \"" << step[0] << "\"";

    EXPECT_EQ(NextDependency("", "keep"), "keep");
    EXPECT_EQ(NextDependency("solo", "solo"), "solo");
    EXPECT_EQ(NextDependency("a | b, c", "a | b"), "c");
    EXPECT_EQ(NextDependency("a,,b", "a"), "");
    EXPECT_EQ(NextDependency("a,,b", ""), "b");
    EXPECT_EQ(NextDependency("a, a, b", "a"), "a");
}

} // namespace
