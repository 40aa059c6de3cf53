#include "CatalogueFixture.h"

#include "catalogue/ArchiveCache.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

using ArchiveCache::TExpected;
using ArchiveCache::TStoreResult;
using TestFiles::Digest;

TEST(LocalFileName, RelativeAndAbsoluteValues) {
    struct TCase {
        const char* Value;
        const char* Name;
    };
    const TCase cases[] = {
        {"./debs/foo_1.0_iphoneos-arm.deb", "foo_1.0_iphoneos-arm.deb"},
        {" \tdebs/foo.deb \r", "foo.deb"},
        {"debs\\win\\foo.deb", "foo.deb"},
        {"c:foo.deb", "foo.deb"},
        {"debs/foo./bar.deb", "foobar.deb"}, // "./" goes before the cut
        {"debs/", ""},
        // A relative value keeps its query: only whole addresses lose it.
        {"debs/foo.deb?x=1", "foo.deb?x=1"},
        // Whole addresses: last path segment, without query or fragment.
        {"https://github.com/o/r/releases/download/v1/pkg_1.0_iphoneos-arm.deb",
         "pkg_1.0_iphoneos-arm.deb"},
        {"HTTPS://cdn.example.org/a/b.deb?token=x/y#part", "b.deb"},
        {"  https://example.org/x.deb  ", "x.deb"},
        {"https://example.org/dir/", ""},
        {"https://example.org/?name=a.deb", ""},
        {"https://example.org/a/..?x", ".."},
        {"https://example.org/x%2B1.deb", "x%2B1.deb"},
        // Not a whole address: the relative rule cuts at the colon.
        {"ftp://example.org/a.deb", "a.deb"},
        {"https:/example.org/a.deb", "a.deb"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ArchiveCache::LocalFileName(c.Value), c.Name) << c.Value;
}

TEST(LocalFileName, OnlyPlainNamesAreUsable) {
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "a\tb.deb", "a\nb.deb", "\x1b[2J.deb",
                            "a\x7f.deb", "caf\xe9.deb", ".a.deb.AbC123"})
        EXPECT_FALSE(ArchiveCache::IsUsableName(bad)) << bad;
    EXPECT_FALSE(ArchiveCache::IsUsableName(std::string("a\0b", 3)));
    for (const char* good :
         {"foo_1.0_iphoneos-arm.deb", "...", ".deb", "a:b.deb", "caf\xc3\xa9.deb", ".a.deb.AbC12"})
        EXPECT_TRUE(ArchiveCache::IsUsableName(good)) << good;
}

// Which hash wins, and in what letters, the store table shows.
TEST(Expected, SizeIsAWholeNumber) {
    for (const char* bad : {"18446744073709551616", "", "12a", "-1", "+1", "1 234"})
        EXPECT_FALSE(ArchiveCache::ExpectedFrom(bad, "", "", "").HasSize) << bad;
    const TExpected e = ArchiveCache::ExpectedFrom(" 18446744073709551615 ", "", "", "");
    EXPECT_TRUE(e.HasSize && e.Size == UINT64_MAX);
}

class StoreTest : public CatalogueFolder {
protected:
    TStoreResult Store(const std::string& name, const TExpected& expected) {
        return ArchiveCache::Store(Path("download.deb"), Archives(), name, expected);
    }
    QStringList ArchiveNames() const {
        return QDir(Archives()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
};

TEST_F(StoreTest, StoresOnlyWhatMatchesSizeAndHash) {
    const std::string body(300000, 'x'); // more than one copy block
    const std::string upper = QByteArray::fromStdString(Digest(body)).toUpper().toStdString();
    const std::string wrongSha = Digest(body + "!");
    const std::string size = std::to_string(body.size());
    const auto E = ArchiveCache::ExpectedFrom;
    const std::string sha1 = Digest(body, QCryptographicHash::Sha1);
    struct TCase {
        const char* What;
        TExpected Expected;
        TStoreResult Result;
    };
    const TCase cases[] = {
        {"size only", E(size, "", "", ""), TStoreResult::Stored},
        {"size smaller", E("1000", "", "", ""), TStoreResult::Mismatch},
        {"size larger", E("300001", "", "", ""), TStoreResult::Mismatch},
        {"size not a number, no hash", E("300 KB", "", "", ""), TStoreResult::Stored},
        {"sha256 in capitals", E(size, upper, "", ""), TStoreResult::Stored},
        {"sha256 wrong at the right size", E(size, wrongSha, "", ""), TStoreResult::Mismatch},
        {"sha256 wrong, sha1 right", E(size, wrongSha, sha1, ""), TStoreResult::Mismatch},
        {"sha1 right", E(size, "", sha1, ""), TStoreResult::Stored},
        {"blank sha256, sha1 right", E(size, "  ", sha1, ""), TStoreResult::Stored},
        {"sha1 wrong, md5 right",
         E(size, "", wrongSha.substr(0, 40), Digest(body, QCryptographicHash::Md5)),
         TStoreResult::Mismatch},
        {"md5 right, no size", E("", "", "", Digest(body, QCryptographicHash::Md5)),
         TStoreResult::Stored},
        {"md5 wrong, no size", E("", "", "", std::string(32, '0')), TStoreResult::Mismatch},
        {"malformed digest", E(size, "not-hex", "", ""), TStoreResult::Mismatch},
        {"digest of another length", E(size, sha1, "", ""), TStoreResult::Mismatch},
    };
    // Move gets the digest of what arrived, as the transfer computed it.
    for (const bool moved : {false, true})
        for (const TCase& c : cases) {
            Write("download.deb", body);
            Write("archives/pkg.deb", "old");
            const auto hash = ArchiveCache::HashOf(c.Expected);
            const std::string digest = hash ? Digest(body, *hash) : std::string();
            EXPECT_EQ(moved ? ArchiveCache::Move(Path("download.deb"), digest, Archives(),
                                                 "pkg.deb", c.Expected)
                            : Store("pkg.deb", c.Expected),
                      c.Result)
                << c.What << moved;
            const bool stored = c.Result == TStoreResult::Stored;
            EXPECT_EQ(Read("archives/pkg.deb"), stored ? body : "old") << c.What;
            EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("pkg.deb")}) << c.What;
            // The scratch file is the caller's, unless it was moved into place.
            EXPECT_EQ(Read("download.deb"), moved && stored ? "<missing>" : body) << c.What;
        }
}

TEST_F(StoreTest, MoveReplacesALinkInTheCacheAndKeepsTheModeOfAFile) {
    Write("outside.deb", "outside");
    ASSERT_TRUE(QFile::link(Path("outside.deb"), Path("archives/a.deb")));
    Write("archives/b.deb", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(Path("archives/b.deb")).constData(), 0600), 0);
    for (const char* name : {"a.deb", "b.deb"}) {
        Write("download.deb", name);
        EXPECT_EQ(ArchiveCache::Move(Path("download.deb"), "", Archives(), name, TExpected{}),
                  TStoreResult::Stored);
        EXPECT_EQ(Read(std::string("archives/") + name), name);
    }
    EXPECT_EQ(Read("outside.deb"), "outside");
    EXPECT_FALSE(QFileInfo(Path("archives/a.deb")).isSymLink());
    EXPECT_EQ(QFile::permissions(Path("archives/b.deb")),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
}

TEST_F(StoreTest, WritesNothingForAnUnusableNameAMissingFileOrAFolderInTheWay) {
    Write("download.deb", "data");
    for (const char* name : {"..", "../escape.deb"})
        EXPECT_EQ(Store(name, TExpected{}), TStoreResult::Failed) << name;
    EXPECT_TRUE(ArchiveNames().isEmpty());
    EXPECT_EQ(Read("escape.deb"), "<missing>");

    ASSERT_TRUE(QDir(Archives()).mkdir(QStringLiteral("x.deb")));
    EXPECT_EQ(Store("x.deb", TExpected{}), TStoreResult::Failed);
    for (const char* name : {"x.deb", "../escape.deb"})
        EXPECT_EQ(ArchiveCache::Move(Path("download.deb"), "", Archives(), name, TExpected{}),
                  TStoreResult::Failed);
    EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("x.deb")}); // no temporary file

    QFile::remove(Path("download.deb"));
    EXPECT_EQ(Store("y.deb", TExpected{}), TStoreResult::Failed);
    EXPECT_EQ(ArchiveNames(), QStringList{QStringLiteral("x.deb")});
}

// The details carry the name and the stanza's hashes, in the letters the
// index has.
TEST_F(StoreTest, TheLoaderBadgeAndTheDetailsAgreeOnTheName) {
    // The file each stanza names lies in the cache under the expected name;
    // "stray.deb" is there too and must badge nothing.
    const char* const values[][2] = {
        {"https://github.com/o/r/releases/download/v1/rel_1.0.deb?raw=1", "rel_1.0.deb"},
        {"./debs/rel_3.0.deb", "rel_3.0.deb"},
        {"debs/foo./bar.deb", "foobar.deb"},
    };
    std::string index;
    for (std::size_t i = 0; i < std::size(values); ++i) {
        index += "Package: p" + std::to_string(i) + "\nsha256: AB12\nSHA1: 11\nMd5Sum: 22\n" +
                 "Filename:  " + values[i][0] + " \n\n";
        Write("archives/" + std::string(values[i][1]), "deb");
    }
    index += "Package: stray\nFilename: https://example.org/dir/?f=stray.deb\n";
    Write("archives/stray.deb", "deb");
    Write("proc/repo.example.org_._Packages", index);

    const TPackageRows rows = LoadPackages(Proc(), Lists(), Archives());
    ASSERT_EQ(rows.size(), std::size(values) + 1);
    for (const TPackageRow& row : rows) {
        TDebianInfo info;
        info.Package = row.Package();
        info.IndexFile = row.IndexFile();
        ASSERT_TRUE(FindPackage(info, Proc()));
        const bool stray = row.Package() == "stray";
        EXPECT_EQ(info.SHA256 + info.SHA1 + info.MD5sum, stray ? "" : "AB121122") << row.Package();
        EXPECT_EQ(row.State & StateDownloaded, stray ? 0 : StateDownloaded) << row.Package();
        EXPECT_EQ(QFileInfo(Archives() + "/" + QString::fromStdString(info.LocalName)).isFile(),
                  !stray)
            << row.Package();
    }
}

// ---- the saved list's state lines ----

std::string Record(const std::string& caption, const std::string& state, const std::string& package,
                   const std::string& end = "\r\n") {
    return "Tweaks" + end + caption + end + state + end + "1.0" + end + package + end + "Desc" +
           end + "repo_Packages" + end;
}

// The build of Record's rows: every one has version "1.0".
TPackageKey Build(const std::string& package, std::string_view architecture = {}) {
    return {package, "1.0", TArchitecture(architecture)};
}

class SavedStatesTest : public CatalogueFolder {
protected:
    std::string Cache() const { return Read("proc/cache.txt"); }
    // What the plain rewrite of the whole file gives for the same update.
    std::string Reference(const std::string& before, const TPackageKey& key, int state) {
        Write("proc/reference.txt", before);
        PackageList::UpdatePackageIcon(Path("proc/reference.txt"), key, state);
        return Read("proc/reference.txt");
    }
    static std::uint64_t Inode(const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
    }
};

TEST_F(SavedStatesTest, ChangesEverySavedRowOfTheIdentifierInPlace) {
    // Two rows of "a" from two sources, one row of "b", a row whose caption is
    // "a", and a description that reads "a" under a line beginning with "$".
    const std::string before = Record("A", "$2", "a") + Record("B", "$0", "b") +
                               Record("a", "$3", "a") + "S\r\nC\r\n$0\r\n$9\r\nc\r\na\r\nx\r\n";
    Write("proc/cache.txt", before);
    const std::uint64_t inode = Inode(Path("proc/cache.txt"));
    TSavedStates states;
    states.Index(Path("proc/cache.txt"), {Build("a"), Build("b")});
    states.Update(Build("a"), 1);
    const std::string expected = Reference(before, Build("a"), 1);
    EXPECT_EQ(Cache(), expected);
    EXPECT_NE(expected, before);
    EXPECT_EQ(Inode(Path("proc/cache.txt")), inode); // patched, not rewritten
    states.Update(Build("b"), 1);
    EXPECT_EQ(Cache(), Reference(expected, Build("b"), 1));
}

TEST_F(SavedStatesTest, FallsBackToTheFullRewriteWhenPatchingIsNotSafe) {
    struct TCase {
        const char* What;
        std::string Indexed; // the file when the run starts
        std::string Updated; // the file when the update comes
    };
    const TCase cases[] = {
        {"state line of another length", Record("A", "$02", "a") + Record("B", "$0", "b"),
         Record("A", "$02", "a") + Record("B", "$0", "b")},
        {"file replaced after the index", Record("A", "$2", "a") + Record("B", "$0", "b"),
         Record("Longer caption", "$2", "b") + Record("A", "$3", "a")},
        {"file edited in place after the index", Record("A", "$2", "a"), Record("B", "$0", "a")},
    };
    for (const TCase& c : cases) {
        Write("proc/cache.txt", c.Indexed);
        TSavedStates states;
        states.Index(Path("proc/cache.txt"), {Build("a")});
        Write("proc/cache.txt", c.Updated);
        states.Update(Build("a"), 1);
        EXPECT_EQ(Cache(), Reference(c.Updated, Build("a"), 1)) << c.What;
    }
    // Line-feed files are patched in place and keep their line ends.
    Write("proc/cache.txt", Record("A", "$2", "a", "\n"));
    TSavedStates gone, none;
    gone.Index(Path("proc/cache.txt"), {Build("a")});
    gone.Update(Build("a"), 1);
    EXPECT_EQ(Cache(), Record("A", "$1", "a", "\n"));
    // A list missing when indexed, or gone before the update, stays missing.
    QFile::remove(Path("proc/cache.txt"));
    none.Index(Path("proc/cache.txt"), {Build("a")});
    none.Update(Build("a"), 1);
    gone.Update(Build("a"), 2);
    EXPECT_EQ(Cache(), "<missing>");
}

TEST_F(SavedStatesTest, ChangesOnlyTheRowsOfTheBuildWhenTheListKnowsArchitectures) {
    // One version of "a" in two builds, then "a" of another version.
    const std::string trailer = "\x1A"
                                "Architecture\r\n1 iphoneos-arm\r\n2 iphoneos-arm64\r\n";
    const std::string other = "Tweaks\r\nA\r\n$2\r\n2.0\r\na\r\nDesc\r\nrepo_Packages\r\n";
    const std::string before = Record("A", "$2", "a") + Record("A", "$2", "a") + other + trailer;
    const std::string after = Record("A", "$2", "a") + Record("A", "$1", "a") + other + trailer;
    EXPECT_EQ(Reference(before, Build("a", "iphoneos-arm64"), 1), after);
    Write("proc/cache.txt", before);
    TSavedStates states;
    states.Index(Path("proc/cache.txt"), {Build("a", "iphoneos-arm64")});
    states.Update(Build("a", "iphoneos-arm64"), 1);
    EXPECT_EQ(Cache(), after);
    // A build the list does not hold changes nothing.
    states.Update(Build("a", "iphoneos-arm64e"), 1);
    EXPECT_EQ(Cache(), after);
}

} // namespace
