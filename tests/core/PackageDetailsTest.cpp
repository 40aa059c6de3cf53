#include "catalogue/PackageDetails.h"
#include "catalogue/StanzaOffsets.h"
#include "sources/IndexStore.h"
#include "support/Files.h"

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

    // Looks Package up in the index as it stands.
    TDebianInfo Lookup(const std::string& package, bool& found) {
        TDebianInfo info;
        info.Package = package;
        info.IndexFile = "repo.example.org_._Packages";
        found = FindPackage(info, folder_);
        return info;
    }

    // Writes Bytes to the index and looks Package up twice: the first lookup
    // scans the index, the second reads only what its offsets point at.
    TDebianInfo Find(const std::string& package, const std::string& bytes, bool& found) {
        Write("repo.example.org_._Packages", bytes);
        const TDebianInfo info = Lookup(package, found);
        bool again = false;
        EXPECT_EQ(Lookup(package, again), info);
        EXPECT_EQ(again, found);
        return info;
    }

    QTemporaryDir dir_;
    QString folder_;
};

TEST_F(FindPackageTest, FillsEveryFieldOfTheStanzaAndComputesTheAddress) {
    const std::string index =
        "Package: other\nName: Other\nSize: 1\n\n"
        "Name: Foo Tweak\nPackage: com.example.foo\nVersion: 1.0-2\n"
        "Author: Ivan <ivan@example.org>\nMaintainer: Team <team@example.org>\n"
        "Description: does things\n continuation line\nSize: 1234\n"
        "Homepage: http://example.org/\n"
        "Filename: ./debs/foo_1.0_iphoneos-arm.deb\nDepends: a, b (>= 1)\n"
        "Pre-Depends: c\nDepiction: http://example.org/d\nSection: Tweaks\n"
        "Architecture: iphoneos-arm\nSHA256: ab\nSHA1: cd\nMD5sum: ef\n\n"
        "Package: bad\nName: \xd0\x9f\xd1\x80\xd0\xb8\nAuthor: \xc0\xaf\n"
        "Maintainer: ok\nDescription: \xed\xa0\x80\nSection: \xff\n";
    const TDebianInfo want{.Package = "com.example.foo",
                           .Name = "Foo Tweak",
                           .Version = "1.0-2",
                           .Author = "Ivan <ivan@example.org>",
                           .Maintainer = "Team <team@example.org>",
                           .Description = "does things",
                           .Size = "1234",
                           .Homepage = "http://example.org/",
                           .Filename = "http://repo.example.org/debs/foo_1.0_iphoneos-arm.deb",
                           .Depends = "a, b (>= 1)",
                           .PreDepends = "c",
                           .IndexFile = "repo.example.org_._Packages",
                           .Depiction = "http://example.org/d",
                           .Section = "Tweaks",
                           .Architecture = "iphoneos-arm",
                           .LocalName = "foo_1.0_iphoneos-arm.deb",
                           .SHA256 = "ab",
                           .SHA1 = "cd",
                           .MD5sum = "ef"};
    bool found = false;
    EXPECT_EQ(Find("com.example.foo", index, found), want);
    EXPECT_TRUE(found);
    // Decoded fields drop invalid UTF-8, the others keep the index's bytes.
    const TDebianInfo bad = Lookup("bad", found);
    EXPECT_TRUE(found);
    EXPECT_EQ(bad.Name + "|" + bad.Author + "|" + bad.Maintainer + "|" + bad.Description + "|" +
                  bad.Section,
              "\xd0\x9f\xd1\x80\xd0\xb8||ok||\xff");
}

// The rows rewrite one index in place, each read again as the panel would.
TEST_F(FindPackageTest, ScansAsTheDetailsPanelExpects) {
    const struct {
        const char *Title, *Index, *Want; // found|Name|Version|Size
    } cases[] = {
        {"field names in any case", "PACKAGE: foo\nvErSiOn: 2\nSIZE: 7\n", "yes|foo|2|7"},
        {"no blank, no field", "Package: foo\nSize:1234\nVersion:1.0\n", "yes|foo||"},
        {"two blanks: one stays", "Package: foo\nVersion:  1.0 \n", "yes|foo| 1.0 |"},
        {"first stanza of the identifier wins",
         "Package: foo\nVersion: 1\nSize: 10\n\nPackage: foo\nVersion: 2\nSize: 20\n",
         "yes|foo|1|10"},
        {"nothing left from before",
         "Package: bar\nName: Bar\nSize: 99\n\nPackage: foo\nVersion: 1\n", "yes|foo|1|"},
        {"identifier compares exactly", "Package: Foo\nVersion: 1\n", "no|foo|1|"},
        {"not found: last stanza's fields", "Package: bar\nName: Bar\nVersion: 4\n", "no|Bar|4|"},
        {"later line wins", "Package: foo\nVersion: 1\nVersion: 2\n", "yes|foo|2|"},
        {"invalid UTF-8 name", "Package: foo\nName: \xff\xfe bad\n", "yes|foo||"},
        {"stops after the stanza", "Package: foo\nVersion: 1\n\n\nVersion: 2\nPackage: foo\n",
         "yes|foo|1|"},
        {"line of blanks does not end a stanza", "Package: foo\n \nVersion: 5\n", "yes|foo|5|"},
        {"lone CRs and CR LF",
         "Package: bar\r\n\r\nPack\rage: foo\r\nVer\rsion: 6\r\n\r\nPackage: foo\n", "yes|foo|6|"},
        {"nothing after a byte 0x1A", "Package: bar\n\x1A\n\nPackage: foo\n", "no|foo||"},
        {"near misses",
         "Package: a\nDepends: foo\n\nPackage:  foo\nXPackage: foo\nPackage: foo2\n\n"
         "Package: foo\nVersion: 9\n",
         "yes|foo|9|"},
        {"unended last line", "\nVersion: 13\nPackage: foo", "yes|foo|13|"},
        {"identifier twice in a stanza", "Package: foo\nPackage: foo\nVersion: 7\n", "yes|foo|7|"},
        {"edited to hold another package", "Package: bar\nVersion: 4\n\n", "no|foo||"}};
    for (const auto& c : cases) {
        bool found = false;
        const TDebianInfo info = Find("foo", c.Index, found);
        EXPECT_EQ((found ? "yes|" : "no|") + info.Name + "|" + info.Version + "|" + info.Size,
                  c.Want)
            << c.Title;
    }
}

// The index is read piece by piece. Piece boundaries cut the stanzas below at
// every byte of their first lines (in the identifier, between CR and LF,
// before a line end); the lookups meet offsets unknown, partly known and
// complete, and an identifier the index lacks; the small stanzas before them
// are more than the kept offsets search one by one.
TEST_F(FindPackageTest, LinesCutByTheReadPiecesAreRead) {
    const char* shapes[] = {"Version: %d\nPackage: p%d\n\n", "Version: %d\r\npACKAGE: p%d\r\n\r\n",
                            "Version: %d\nPa\rckage: p%d\n\r\n"};
    std::string index;
    for (int q = 0; q < 2000; ++q)
        index += "Package: q" + std::to_string(q) + "\nVersion: " + std::to_string(q) + "\n\n";
    constexpr int Count = 30;
    for (int k = 0; k < Count; ++k) {
        // One long line across a boundary, then a stanza K bytes before the next one.
        const std::size_t fill = std::size_t(k + 2) * StanzaOffsets::PieceBytes - k - index.size();
        char stanza[64];
        std::snprintf(stanza, sizeof stanza, shapes[k % 3], k, k);
        index += "Description: " + std::string(fill - 15, 'x') + "\n\n" + stanza;
    }
    index += "\x1APackage: p99\nVersion: 99\n";
    Write("repo.example.org_._Packages", index);
    for (int i = 0; i <= Count; ++i) {
        const int k = i == Count / 2 ? 99 : i * 7 % Count;
        bool found = false;
        EXPECT_EQ(Lookup("p" + std::to_string(k), found).Version, k == 99 ? "" : std::to_string(k));
        EXPECT_EQ(found, k != 99) << k;
    }
}

TEST_F(FindPackageTest, AReplacedOrEditedIndexIsReadAgain) {
    bool found = false;
    EXPECT_EQ(Find("foo", "Package: foo\nVersion: 1\n", found).Version, "1");
    // Replaced under the same name, as the refresh stores an index.
    const QByteArray path = QFile::encodeName(folder_ + "repo.example.org_._Packages");
    Write("next_Packages", "Package: bar\n\nPackage: foo\nVersion: 2\n");
    ASSERT_EQ(::rename(QFile::encodeName(folder_ + "next_Packages").constData(), path), 0);
    // Learned whole (twice: the second finds it known) as the window has it
    // learned after a load; the edit below must not hide behind that either.
    LearnIndexes(folder_);
    LearnIndexes(folder_);
    EXPECT_EQ(Lookup("foo", found).Version, "2");
    // Edited in place to the same size and given its old time back: the file
    // looks unchanged, yet what the old places no longer hold is found.
    struct stat before {};
    ASSERT_EQ(::stat(path.constData(), &before), 0);
    Write("repo.example.org_._Packages", "Version: 5\nPackage: foo\n\nPackage: bar\n");
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
    EXPECT_EQ(Lookup("foo", found).Version, "5");
    EXPECT_TRUE(found);
}

TEST_F(FindPackageTest, ARowFindsItsOwnBuild) {
    // Three builds of one identifier, then another version; the first
    // stanza is none of the builds asked for below but the first.
    Write("r_Packages", "Package: elite\nVersion: 5.0\nArchitecture: iphoneos-arm\nSize: 1\n"
                        "Filename: debs/elite_5.0.deb\n\n"
                        "Package: elite\nVersion: 5.2.2\nArchitecture: iphoneos-arm64\nSize: 2\n"
                        "Filename: debs/elite_5.2.2_arm64.deb\n\n"
                        "Package: elite\nArchitecture: iphoneos-arm64e\nSize: 3\n"
                        "Filename: debs/elite_5.2.2_arm64e.deb\nVersion: 5.2.2\n\n"
                        "Package: other\nVersion: 5.2.2\nArchitecture: iphoneos-arm64e\n");
    const struct {
        const char *Version, *Architecture, *Size, *Address;
    } cases[] = {{"5.0", "iphoneos-arm", "1", "http://r/debs/elite_5.0.deb"},
                 {"5.2.2", "iphoneos-arm64", "2", "http://r/debs/elite_5.2.2_arm64.deb"},
                 {"5.2.2", "iphoneos-arm64e", "3", "http://r/debs/elite_5.2.2_arm64e.deb"},
                 // Another build or version is never shown in its place.
                 {"5.2.2", "iphoneos-arm", "", "http://r"},
                 {"5.1", "iphoneos-arm64", "", "http://r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Version) + " " + c.Architecture);
        TDebianInfo info;
        info.Package = "elite";
        info.IndexFile = "r_Packages";
        info.Homepage = "left from before";
        // The folder is given without its trailing separator.
        const bool found =
            FindPackage(info, dir_.path(), {"elite", c.Version, TArchitecture(c.Architecture)});
        EXPECT_EQ(found, *c.Size != 0);
        EXPECT_EQ(info.Size + "|" + info.Filename + "|" + info.Homepage + "|" + info.Architecture,
                  std::string(c.Size) + "|" + c.Address + "||" + (found ? c.Architecture : ""));
    }
}

// U+FEFF at the start of a name is part of it (a phone may list such an
// index): the store lists it and the lookup reads it, not its namesake.
TEST_F(FindPackageTest, AnIndexNameStartingWithU_FEFFIsReadUnderThatName) {
    const QString marked = QStringLiteral("\uFEFFr_Packages");
    Write(marked, "Package: a\nVersion: marked\n");
    Write("r_Packages", "Package: a\nVersion: plain\n");
    EXPECT_EQ(IndexStore::ListIndexFiles(dir_.path()), (QStringList{"r_Packages", marked}));
    TDebianInfo info;
    info.Package = "a";
    info.IndexFile = marked.toStdString();
    EXPECT_TRUE(FindPackage(info, folder_));
    EXPECT_EQ(info.Version, "marked");
}

TEST_F(FindPackageTest, UnsafeOrMissingIndexFilesAreNeverRead) {
    // A file one level up that a hand-edited list could point at.
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

TEST(Details, DownloadAddressJoinsSourceAndFilename) {
    const char* cases[][3] = {
        {"repo.example.org_._Packages", "debs/foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"repo.example.org_._Packages", "./debs/foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"apt.example.org_dists_stable_main_binary-iphoneos-arm_Packages", "pool/main/f/foo.deb",
         "http://apt.example.org/pool/main/f/foo.deb"},
        {"apt.example.org_DISTS_stable_Packages", "pool/x.deb",
         "http://apt.example.org/pool/x.deb"},
        // Sources added by hand get the separator the plain join would miss.
        {"repo.example.org_Packages", "debs/foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"repo.example.org_cydia_packages", "debs/foo.deb",
         "http://repo.example.org/cydia/debs/foo.deb"},
        {"repo.example.org_Packages", "./debs/foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"repo.example.org_Packages", "/debs/foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"repo.example.org_Packages", "", "http://repo.example.org"},
        {"repo.example.org_._Packages", "", "http://repo.example.org/"},
        // ".." never climbs out of the source.
        {"repo.example.org_._Packages", "debs/../foo.deb", "http://repo.example.org/debs/foo.deb"},
        {"apt.example.org_dists_stable_Packages", "../../x.deb", "http://apt.example.org/x.deb"},
        {"repo.example.org_Packages", "../../x.deb", "http://repo.example.org/x.deb"},
        {"repo.example.org_list", "debs/foo.deb", "http://repo.example.org/listdebs/foo.deb"},
        // A quoted "_" of the source's path is a "_" again.
        {"host_archive%5fzhaonan_._Packages", "debs/a_1.0.deb",
         "http://host/archive_zhaonan/debs/a_1.0.deb"}};
    for (const auto& c : cases)
        EXPECT_EQ(DownloadAddress(c[0], c[1]), c[2]) << c[0] << " + " << c[1];
    // The source's scheme, unless the value is a whole address of its own.
    EXPECT_EQ(DownloadAddress("host_repo_._Packages", "./debs/a.deb", true),
              "https://host/repo/debs/a.deb");
    EXPECT_EQ(DownloadAddress("host_repo_._Packages", "http://cdn.example.org/a.deb", true),
              "http://cdn.example.org/a.deb");
}

TEST(Details, SplitAuthorSplitsNameAndAddress) {
    const char* cases[][3] = {{"Ivan Petrov <ivan@example.org>", "Ivan Petrov", "ivan@example.org"},
                              {"  Ivan  < ivan@example.org>", "Ivan", "ivan@example.org"},
                              {"a <b<c>> ", "a", "bc"},
                              {"<x@y>", "", "x@y"},
                              {"ivan@example.org", "ivan@example.org", "ivan@example.org"},
                              {" handle ", " handle ", " handle "},
                              {"", "", ""}};
    for (const auto& c : cases) {
        const TAuthorLink link = SplitAuthor(c[0]);
        EXPECT_EQ(link.Text + "|" + link.Address, std::string(c[1]) + "|" + c[2]) << c[0];
    }
}

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
