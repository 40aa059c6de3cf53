#include "CatalogueFixture.h"

#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"

#include <QDir>

namespace {

using namespace std::string_literals;
using PackageList::TLoadResult;

TPackageRow FullRow(std::string_view section, std::string_view caption, int state,
                    std::string_view version, std::string_view package,
                    std::string_view description, std::string_view indexFile) {
    TPackageRow r({caption, version, package, description, indexFile, section});
    r.State = state;
    return r;
}

TPackageRow Built(TPackageRow row, std::string_view architecture) {
    row.Architecture.Assign(architecture);
    return row;
}

const TPackageRows TwoRows = {
    Built(FullRow("Tweaks", "Example Tweak Pack", 3, "1.0", "com.example.tweak", "Example",
                  "repo.example.org_Packages"),
          "iphoneos-arm64"),
    FullRow("Themes", "\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xB0", 0, "2:1.4", "com.example.theme", "",
            "apt.example.org_dists_stable_main_binary-iphoneos-arm_Packages")};

// The seven-line records as they always were, then the architectures after
// the end-of-text byte that ends them for any reader of the records.
const std::string TwoRecords = "Tweaks\r\nExample Tweak Pack\r\n$3\r\n1.0\r\ncom.example.tweak\r\n"
                               "Example\r\nrepo.example.org_Packages\r\n"
                               "Themes\r\n\xD0\xA2\xD0\xB5\xD0\xBC\xD0\xB0\r\n$0\r\n2:1.4\r\n"
                               "com.example.theme\r\n\r\n"
                               "apt.example.org_dists_stable_main_binary-iphoneos-arm_Packages\r\n";
const std::string TwoRowsFile = TwoRecords + "\x1A"
                                             "Architecture\r\n1 iphoneos-arm64\r\n1\r\n";

class SavedList : public CatalogueFolder {
protected:
    QString Cache() const { return Path("proc/cache.txt"); }
    TLoadResult Load(const std::string& category = {}, std::string_view architecture = {}) {
        return PackageList::LoadPackageList(Cache(), category, rows, categories, architecture,
                                            &knowsArchitectures);
    }
    TPackageRows rows;
    std::vector<std::string> categories;
    bool knowsArchitectures = false;
};

TEST_F(SavedList, SavesSevenCrLfLinesPerRowAndReadsThemBack) {
    ASSERT_TRUE(PackageList::SavePackageList(Cache(), TwoRows));
    EXPECT_EQ(Read("proc/cache.txt"), TwoRowsFile);
    rows = {Row("stale", "stale")};
    EXPECT_EQ(Load(), TLoadResult::Complete);
    EXPECT_EQ(rows, TwoRows);
    EXPECT_TRUE(knowsArchitectures);
    EXPECT_EQ(QDir(Proc()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("cache.txt")});
}

TEST_F(SavedList, ALongListIsWrittenWholeAndInOrder) {
    // Many pieces made side by side, and one record longer than a piece.
    TPackageRows saved;
    std::string file;
    for (int i = 0; i < 10'000; ++i) {
        const std::string caption = std::to_string(i);
        const std::string description = i == 5'000 ? std::string(3 << 20, 'd') : "d";
        saved.push_back(FullRow("S", caption, i % 4, "1", "p", description, "f"));
        file += "S\r\n" + caption + "\r\n$" + std::to_string(i % 4) + "\r\n1\r\np\r\n" +
                description + "\r\nf\r\n";
    }
    ASSERT_TRUE(PackageList::SavePackageList(Cache(), saved));
    EXPECT_TRUE(Read("proc/cache.txt") == file + "\x1A"
                                                 "Architecture\r\n10000\r\n");
}

TEST_F(SavedList, ThePhonesArchitectureListsItsRowsAllAndThoseNamingNone) {
    TPackageRows saved = {
        Built(FullRow("A", "arm", 0, "1", "p", "", "i"), "iphoneos-arm"),
        Built(FullRow("B", "arm64", 0, "1", "p", "", "i"), "iphoneos-arm64"),
        Built(FullRow("C", "all", 0, "1", "q", "", "i"), "all"),
        FullRow("D", "none", 0, "1", "r", "", "i"),
        Built(FullRow("E", "arm64e", 0, "1", "p", "", "i"), "iphoneos-arm64e"),
    };
    ASSERT_TRUE(PackageList::SavePackageList(Cache(), saved));
    const struct {
        std::string_view phone;
        std::vector<std::string> captions;
    } cases[] = {
        {"", {"arm", "arm64", "all", "none", "arm64e"}},
        {"iphoneos-arm64", {"arm64", "all", "none"}},
        {"iphoneos-arm", {"arm", "all", "none"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Load({}, c.phone), TLoadResult::Complete);
        std::vector<std::string> captions;
        for (const TPackageRow& row : rows)
            captions.emplace_back(row.Caption());
        EXPECT_EQ(captions, c.captions) << c.phone;
        // The categories are those of the rows listed.
        EXPECT_EQ(categories.size(), c.captions.size()) << c.phone;
    }
    EXPECT_EQ(Load("B", "iphoneos-arm"), TLoadResult::Complete);
    EXPECT_TRUE(rows.empty());
}

TEST_F(SavedList, AnEmptyOrFailedSaveLeavesNoFileAndAnUpdateMakesNone) {
    Write("proc/cache.txt", TwoRowsFile);
    EXPECT_TRUE(PackageList::SavePackageList(Cache(), {}));
    EXPECT_EQ(Read("proc/cache.txt"), "<missing>");
    EXPECT_EQ(Load(), TLoadResult::Missing);
    PackageList::UpdatePackageIcon(Cache(), {"pkg", "v", {}}, 1);
    EXPECT_EQ(Read("proc/cache.txt"), "<missing>");

    ASSERT_TRUE(QDir(Proc()).mkdir(QStringLiteral("cache.txt")));
    for (const TPackageRows& saved : {TwoRows, TPackageRows{}}) {
        QString reason;
        EXPECT_FALSE(PackageList::SavePackageList(Cache(), saved, &reason));
        EXPECT_FALSE(reason.isEmpty());
    }
    QString reason;
    EXPECT_FALSE(PackageList::SavePackageList(Path("nowhere/cache.txt"), TwoRows, &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(QDir(Proc()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("cache.txt")});
}

TEST_F(SavedList, LineBreaksInsideFieldsCannotSplitARecord) {
    // Breaks in short fields; in the first, a middle and the last whole word
    // of a long one, and in the bytes after its last whole word.
    const std::string description = "\r1234567"
                                    "89ab\ndef"
                                    "ghijklmn"
                                    "opqrst\x1Av"
                                    "wx\n";
    const std::pair<TPackageRow, std::string> cases[] = {
        {FullRow("A\rB", "C\nD", 1, "E\x1A", "F\r\nG", "H", "I"),
         "A B\r\nC D\r\n$1\r\nE \r\nF  G\r\nH\r\nI\r\n"},
        {FullRow("S", "C", 0, "V", "P", description, "0123456789abcdef\r"),
         "S\r\nC\r\n$0\r\nV\r\nP\r\n 123456789ab defghijklmnopqrst vwx \r\n"
         "0123456789abcdef \r\n"}};
    for (const auto& [row, record] : cases) {
        ASSERT_TRUE(PackageList::SavePackageList(Cache(), {row}));
        EXPECT_EQ(Read("proc/cache.txt"), record + "\x1A"
                                                   "Architecture\r\n1\r\n");
        EXPECT_EQ(Load(), TLoadResult::Complete);
        EXPECT_EQ(rows.size(), 1u);
    }
}

TEST_F(SavedList, MissingFileLeavesRowsAndCategories) {
    rows = {Row("kept", "kept")};
    categories = {"Kept"};
    EXPECT_EQ(Load(), TLoadResult::Missing);
    EXPECT_EQ(rows, TPackageRows{Row("kept", "kept")});
    EXPECT_EQ(categories, std::vector<std::string>{"Kept"});
}

TPackageRow CaptionOnly(std::string_view caption) {
    return TPackageRow({caption, {}, {}, {}, {}, {}});
}

// Damage keeps what came before it; the architectures count only when they
// follow the records one for one.
TEST_F(SavedList, DamageKeepsWhatCameBeforeAndArchitecturesMustMatchTheRecords) {
    const std::string first = TwoRowsFile.substr(0, TwoRowsFile.find("Themes"));
    const std::string block = TwoRecords + "\x1A"
                                           "Architecture\r\n";
    const TPackageRow plain = Built(TwoRows[0], {});
    const TPackageRows unknown = {plain, TwoRows[1]};
    const auto complete = TLoadResult::Complete;
    const struct {
        const char* What;
        std::string File;
        TLoadResult Result;
        TPackageRows Rows;
        bool Known;
    } cases[] = {
        {"line feeds only",
         TwoRecords + "\x1A"
                      "Architecture\n1 iphoneos-arm64\n1\n",
         complete, TwoRows, true},
        {"saved before they were kept", TwoRecords, complete, unknown, false},
        {"counts short of the records", block + "1 all\r\n", complete, unknown, false},
        {"counts past the records", block + "1 x\r\n2\r\n", complete, unknown, false},
        {"a count that is no number", block + "1 x\r\nx 1\r\n", complete, unknown, false},
        {"another block",
         TwoRecords + "\x1A"
                      "Something\r\n2\r\n",
         complete, unknown, false},
        {"ends after line two",
         first + "S\r\nCap\r\n",
         TLoadResult::Damaged,
         {plain, CaptionOnly("Cap")},
         false},
        {"ends after line three",
         first + "S\r\nCap\r\n$2\r\n",
         complete,
         {plain, FullRow("S", "Cap", 2, "", "", "", "")},
         false},
        {"decimal and padded states",
         first + "S\r\nA\r\n2\r\nv\r\np\r\nd\r\ni\r\nS\r\nB\r\n$03\r\nv\r\np\r\nd\r\ni\r\n",
         complete,
         {plain, FullRow("S", "A", 2, "v", "p", "d", "i"),
          FullRow("S", "B", 3, "v", "p", "d", "i")},
         false},
        {"line feeds and end of text",
         first + "S\nA\n$1\nv\np\nd\ni\n\x1AS\r\nB\r\n$x\r\n",
         complete,
         {plain, FullRow("S", "A", 1, "v", "p", "d", "i")},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        Write("proc/cache.txt", c.File);
        EXPECT_EQ(Load(), c.Result);
        EXPECT_EQ(rows, c.Rows);
        EXPECT_EQ(knowsArchitectures, c.Known);
    }
    // A bad state line ends the load after the caption.
    for (const char* state : {"", "three", "$", "$4", "$A", "-1", "$100000000000000000003"}) {
        Write("proc/cache.txt", first + "S\r\nCap\r\n" + state + "\r\nv\r\np\r\nd\r\ni\r\n");
        EXPECT_EQ(Load(), TLoadResult::Damaged) << state;
        EXPECT_EQ(rows, (TPackageRows{plain, CaptionOnly("Cap")})) << state;
    }
}

TEST_F(SavedList, DamagedFileStillGivesItsCategories) {
    Write("proc/cache.txt", "Games\r\nA\r\n$0\r\n\r\n\r\n\r\n\r\nThemes\r\nB\r\n$9\r\n");
    EXPECT_EQ(Load(), TLoadResult::Damaged);
    EXPECT_EQ(categories, (std::vector<std::string>{"Games", "Themes"}));
}

const std::string Sections = "tweaks\r\nA\r\n$0\r\nv\r\na\r\nd\r\ni\r\n"
                             "Tweaks\r\nB\r\n$1\r\nv\r\nb\r\nd\r\ni\r\n"
                             "\r\nC\r\n$2\r\nv\r\nc\r\nd\r\ni\r\n"
                             "\xD0\xA2\xD0\xB5\xD0\xBC\xD1\x8B\r\nD\r\n$3\r\nv\r\nd\r\nd\r\ni\r\n"
                             "Addons\r\nE\r\n$0\r\nv\r\ne\r\nd\r\ni\r\n"
                             "\xD1\x82\xD0\xB5\xD0\xBC\xD1\x8B\r\nF\r\n$0\r\nv\r\nf\r\nd\r\ni\r\n"
                             "Tweaks\r\nG\r\n$bad\r\n";

TEST_F(SavedList, CategoryListIsDistinctIgnoringCaseSortedAndWithoutEmpty) {
    TLocaleGuard locale(QLocale(QLocale::English, QLocale::UnitedStates));
    Write("proc/cache.txt", Sections);
    EXPECT_EQ(Load(), TLoadResult::Damaged);
    EXPECT_EQ(categories,
              (std::vector<std::string>{"Addons", "tweaks", "\xD0\xA2\xD0\xB5\xD0\xBC\xD1\x8B"}));
    // A list built in memory gives the same entries as the saved one.
    EXPECT_EQ(PackageList::Categories(rows), categories);
}

TEST_F(SavedList, CategoryIsMatchedExactlyAndSkipsOtherRecordsUnread) {
    Write("proc/cache.txt", Sections);
    categories = {"untouched"};
    // The damaged record is one of the skipped ones for "tweaks".
    rows = {Row("stale", "stale")};
    EXPECT_EQ(Load("tweaks"), TLoadResult::Complete);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], FullRow("tweaks", "A", 0, "v", "a", "d", "i"));
    EXPECT_EQ(categories, std::vector<std::string>{"untouched"});

    EXPECT_EQ(Load("Tweaks"), TLoadResult::Damaged);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Package(), "b");
    EXPECT_EQ(rows[1], CaptionOnly("G"));

    EXPECT_EQ(Load("Nothing"), TLoadResult::Complete);
    EXPECT_TRUE(rows.empty());
}

TEST_F(SavedList, UpdatePackageIconChangesOnlyTheRowsOfTheBuild) {
    const TPackageRows saved = {
        Built(
            FullRow("S", "com.example.a", 2, "1", "com.example.a", "com.example.a", "one_Packages"),
            "iphoneos-arm"),
        FullRow("S", "Other", 0, "com.example.a", "com.example.b", "x", "com.example.a"),
        // The same build from another source, another build and another version.
        Built(FullRow("S", "com.example.a", 2, "1", "com.example.a", "", "two_Packages"),
              "iphoneos-arm"),
        Built(FullRow("S", "com.example.a", 2, "1", "com.example.a", "", "two_Packages"),
              "iphoneos-arm64"),
        Built(FullRow("S", "com.example.a", 3, "2", "com.example.a", "", "two_Packages"),
              "iphoneos-arm")};
    ASSERT_TRUE(PackageList::SavePackageList(Cache(), saved));
    PackageList::UpdatePackageIcon(Cache(), TPackageKey::Of(saved[0]), 1);
    EXPECT_EQ(Load(), TLoadResult::Complete);
    TPackageRows expected = saved;
    expected[0].State = 1;
    expected[2].State = 1;
    EXPECT_EQ(rows, expected);
    EXPECT_TRUE(knowsArchitectures);

    const std::string before = Read("proc/cache.txt");
    PackageList::UpdatePackageIcon(Cache(), {"COM.EXAMPLE.A", "1", TArchitecture("iphoneos-arm")},
                                   0);
    PackageList::UpdatePackageIcon(Cache(), {"absent", "1", {}}, 0);
    PackageList::UpdatePackageIcon(Cache(), {"com.example.a", "1", TArchitecture("x")}, 0);
    EXPECT_EQ(Read("proc/cache.txt"), before);
}

TEST_F(SavedList, UpdatePackageIconReadsAnyLineEndsAndWritesCrLf) {
    // A list that does not know the architectures matches identifier and
    // version only.
    Write("proc/cache.txt", "S\nCap\n$0\nv\npkg\nd\ni\n");
    PackageList::UpdatePackageIcon(Cache(), {"pkg", "v", TArchitecture("all")}, 1);
    EXPECT_EQ(Read("proc/cache.txt"), "S\r\nCap\r\n$1\r\nv\r\npkg\r\nd\r\ni\r\n");

    // A lone CR inside a field ends no line for the reader, so the rewrite
    // must not make it one: every record after it would shift.
    Write("proc/cache.txt", "S\nCap\n$0\nv\npkg\nd\rx\ni\nS\nCap2\n$0\nv\nother\nd\ni\n");
    ASSERT_EQ(Load(), TLoadResult::Complete);
    TPackageRows expected = rows;
    expected[0].State = 1;
    PackageList::UpdatePackageIcon(Cache(), {"pkg", "v", TArchitecture("all")}, 1);
    EXPECT_EQ(Load(), TLoadResult::Complete);
    EXPECT_EQ(rows, expected);
}

TEST_F(SavedList, AcceptIndexesCopiesEveryIndexOverItsReference) {
    Write("proc/a_Packages", "Package: a\nVersion: 2\n");
    Write("proc/b_packages", "Package: b\r\nVersion: 1\r\n");
    Write("proc/cache.txt", TwoRowsFile);
    ASSERT_TRUE(QDir(Proc()).mkdir(QStringLiteral("dir_Packages")));
    Write("lists/a_Packages", "Package: a\nVersion: 1\n");
    Write("lists/other_Packages", "kept");
    PackageList::AcceptIndexes(Proc(), Lists());
    EXPECT_EQ(Read("lists/a_Packages"), Read("proc/a_Packages"));
    EXPECT_EQ(Read("lists/b_packages"), Read("proc/b_packages"));
    EXPECT_EQ(Read("lists/other_Packages"), "kept");
    QStringList names =
        QDir(Lists()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("a_Packages"), QStringLiteral("b_packages"),
                                  QStringLiteral("other_Packages")}));
    for (const TPackageRow& r : LoadPackages(Proc(), Lists(), Archives()))
        EXPECT_EQ(r.State, 0) << r.Package();
}

TEST(ClearUpdateFlags, KeepsDownloadedBitAndSortsByCaption) {
    TLocaleGuard locale(QLocale(QLocale::English, QLocale::UnitedStates));
    TPackageRows rows = {Row("d", "d", 3), Row("c", "c", 2), Row("b", "b", 1), Row("a", "a", 0)};
    PackageList::ClearUpdateFlags(rows);
    EXPECT_EQ(rows, (TPackageRows{Row("a", "a", 0), Row("b", "b", 1), Row("c", "c", 0),
                                  Row("d", "d", 1)}));
}

} // namespace

// Rows view what a store adopted for as long as the store lives, however many
// texts it adopts after theirs, short ones too.
TEST(RowTexts, AdoptedTextsStayWhereTheyAre) {
    TRowTexts store;
    const std::string_view first = store.Adopt(std::string("short"));
    for (int i = 0; i < 100; ++i)
        store.Adopt(std::string(1, char('a' + i % 26)));
    EXPECT_EQ(first, "short");
}
