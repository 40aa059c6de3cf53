#include "CatalogueFixture.h"

#include "base/SafeFiles.h"
#include "catalogue/PackageIndex.h"
#include "sources/IndexStore.h"

#include <QCollator>

#include <algorithm>
#include <map>
#include <sys/stat.h>

namespace {

using namespace std::string_literals;

const std::string Long300(300, 'x');
const std::string Cut = Long300.substr(0, 256);
// 255 ASCII bytes, then a two-byte letter that the cut at 256 would split.
const std::string SplitName = std::string(255, 'n') + "\xD0\x96" + "tail";
const std::string N255(255, 'n');

// A repository as rootless jailbreaks made them common: one identifier in
// builds for three architectures, two versions of another, a package for
// every architecture, and a stanza repeated word for word.
std::string Build(const std::string& package, const std::string& version,
                  const std::string& architecture) {
    return "Package: " + package + "\nVersion: " + version + "\nArchitecture: " + architecture +
           "\nSection: Tweaks\nFilename: debs/" + package + "_" + version + "_" + architecture +
           ".deb\n\n";
}
const std::string Builds =
    Build("elite", "5.0", "iphoneos-arm") + Build("elite", "5.2.2", "iphoneos-arm64") +
    Build("elite", "5.2.2", "iphoneos-arm64e") + Build("cuts", "1.0.1", "iphoneos-arm") +
    Build("cuts", "2.0", "iphoneos-arm") + Build("theme", "1", "all") +
    Build("elite", "5.2.2", "iphoneos-arm64");
const std::string FooBar = "Package: bar\nVersion: 1.0\nFilename: ./debs/bar_1.0.deb\n\n"
                           "Package: foo\nVersion: 1.1\nFilename: debs/foo_1.1.deb\n";

struct TLoadCase {
    std::string Name;
    std::string Index;
    std::vector<std::string> Rows;    // sorted; "identifier|caption|version|description|section|
                                      // architecture|state"
    std::string Reference = "<none>"; // "<none>" for no reference copy
    std::vector<std::string> Archived = {};
};

// What each stanza gives, and its flags against the reference copy and the
// downloaded files. The reference copy's own rules (letter case, line ends,
// order of lines, stanza ends) are covered by its tests; line ends and the
// end-of-text byte are the line reader's, tested with it.
class Loading : public CatalogueFolder, public ::testing::WithParamInterface<TLoadCase> {};

TEST_P(Loading, GivesTheseRows) {
    const TLoadCase& c = GetParam();
    Write("proc/r_Packages", c.Index);
    if (c.Reference != "<none>")
        Write("lists/r_Packages", c.Reference);
    for (const std::string& a : c.Archived)
        Write("archives/" + a, "");
    std::vector<std::string> rows;
    for (const TPackageRow& r : LoadPackages(Proc(), Lists(), Archives())) {
        rows.push_back(std::string(r.Package()) + "|" + std::string(r.Caption()) + "|" +
                       std::string(r.Version()) + "|" + std::string(r.Description()) + "|" +
                       std::string(r.Section()) + "|" + std::string(r.Architecture.View()) + "|" +
                       std::to_string(r.State));
        EXPECT_EQ(r.IndexFile(), "r_Packages");
        EXPECT_FALSE(r.Marked);
    }
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, c.Rows);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, Loading,
    ::testing::Values(
        TLoadCase{
            "Lf",
            "Package: com.example.a\nName: Alpha\nVersion: 1.0\nSection: Tweaks\n"
            "Description: First\n\nPackage: com.example.b\nVersion: 2.0\nDescription: Second\n",
            {"com.example.a|Alpha|1.0|First|Tweaks||2",
             "com.example.b|com.example.b|2.0|Second|Tweaks||2"}},
        TLoadCase{"NulBytesKept", "Package: a\0b\nDescription: x\0y\n"s, {"a\0b|a\0b||x\0y|||2"s}},
        TLoadCase{"FieldNamesAreCaseSensitive",
                  "package: foo\nPACKAGE: bar\n\nPackage: ok\nname: N\nversion: 9\n",
                  {"ok|ok|||||2"}},
        TLoadCase{"NoBlankAfterColon", "Package: a\nVersion:1.0\nName:Xy\n", {"a|y|.0||||2"}},
        TLoadCase{"MultiLineDescriptionAndIndentedFieldIgnored",
                  "Package: a\nDescription: Short\n Long text\n .\n Version: 1\n",
                  {"a|a||Short|||2"}},
        TLoadCase{"InvalidUtf8Decoded",
                  "Package: a\nName: \xCF\xF0\xE8\nDescription: bad \xFF\n",
                  {"a||||||2"}},
        TLoadCase{"ValidUtf8Kept",
                  "Package: a\nName: \xD0\x9F\xD1\x80\xD0\xB8\n",
                  {"a|\xD0\x9F\xD1\x80\xD0\xB8|||||2"}},
        TLoadCase{"CutAt256",
                  "Package: " + Long300 + "\nVersion: " + Long300 + "\nName: " + Long300 +
                      "\nSection: " + Long300 + "\nDescription: " + Long300 + "\n",
                  {Cut + "|" + Cut + "|" + Cut + "|" + Cut + "|" + Cut + "||2"}},
        TLoadCase{"CutInsideUtf8DropsOnlyThePartialLetter",
                  "Package: a\nName: " + SplitName + "\nDescription: " + SplitName + "\n",
                  {"a|" + N255 + "||" + N255 + "|||2"}},
        TLoadCase{"ValuesNotTrimmed", "Package: a \nName:  Spaced \n", {"a | Spaced |||||2"}},
        TLoadCase{"LaterLineWins", "Package: a\nVersion: 1\nVersion: 2\n", {"a|a|2||||2"}},
        TLoadCase{"BlankLineDoesNotEndStanza", "Package: a\n \nVersion: 2\n", {"a|a|2||||2"}},
        TLoadCase{"ManyEmptyLinesNoRows",
                  "\n\n\nPackage: a\n\n\n\n\nPackage: b\n\n\n",
                  {"a|a|||||2", "b|b|||||2"}},
        TLoadCase{"SectionSticksEvenOverStanzasWithoutPackage",
                  "Section: Themes\n\nPackage: a\n\nPackage: b\nSection: Games\n\nPackage: c\n",
                  {"a|a|||Themes||2", "b|b|||Games||2", "c|c|||Games||2"}},
        TLoadCase{"EmptyValues", "Package:\nName:\nVersion:\n", {"||||||2"}},
        TLoadCase{"NoReferenceAllNew",
                  FooBar,
                  {"bar|bar|1.0||||2", "foo|foo|1.1||||3"},
                  "<none>",
                  {"foo_1.1.deb"}},
        TLoadCase{"SameAndChangedVersion",
                  FooBar,
                  {"bar|bar|1.0||||1", "foo|foo|1.1||||2"},
                  "Package: foo\nVersion: 1.0\n\nPackage: bar\nVersion: 1.0\n",
                  {"bar_1.0.deb"}},
        TLoadCase{"MissingButDownloaded",
                  FooBar,
                  {"bar|bar|1.0||||0", "foo|foo|1.1||||3"},
                  "Package: bar\nVersion: 1.0\n",
                  {"foo_1.1.deb"}},
        TLoadCase{"LastReferenceStanzaWithoutEmptyLine",
                  FooBar,
                  {"bar|bar|1.0||||0", "foo|foo|1.1||||2"},
                  "Package: bar\nVersion: 1.0\n\nPackage: foo\nVersion: 1.0"},
        TLoadCase{"IndexWithoutVersionAgainstVersion",
                  "Package: foo\n",
                  {"foo|foo|||||2"},
                  "Package: foo\nVersion: 1\n"},
        TLoadCase{"TrailingBlankIsAnotherVersion",
                  "Package: foo\nVersion: 1.0 \n",
                  {"foo|foo|1.0 ||||2"},
                  "Package: foo\nVersion: 1.0\n"},
        TLoadCase{"WholePackageLineCompared",
                  "Package: foo\nVersion: 1\n",
                  {"foo|foo|1||||2"},
                  "Package: foobar\nVersion: 1\n\nPackage:  foo\nVersion: 1\n"},
        TLoadCase{"SeveralStanzasOfOneIdentifier",
                  "Package: foo\nVersion: 1\n\nPackage: foo\nVersion: 2\n",
                  {"foo|foo|1||||0", "foo|foo|2||||2"},
                  "Package: foo\nVersion: 1\n"},
        TLoadCase{"ArchiveNameFromFilenameLine",
                  "Package: foo\nFilename: pool/main/f/foo/foo_1_iphoneos-arm.deb\n\n"
                  "Package: bar\nFilename: ./debs/other.deb\n",
                  {"bar|bar|||||2", "foo|foo|||||3"},
                  "<none>",
                  {"foo_1_iphoneos-arm.deb", "bar"}},
        // The repeated stanza makes no second row; each build's own file gives
        // its downloaded badge.
        TLoadCase{"Builds",
                  Builds,
                  {"cuts|cuts|1.0.1||Tweaks|iphoneos-arm|3", "cuts|cuts|2.0||Tweaks|iphoneos-arm|2",
                   "elite|elite|5.0||Tweaks|iphoneos-arm|2",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64e|2",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64|3", "theme|theme|1||Tweaks|all|2"},
                  "<none>",
                  {"elite_5.2.2_iphoneos-arm64.deb", "cuts_1.0.1_iphoneos-arm.deb"}},
        // The phone's lists are the same bytes: nothing is new.
        TLoadCase{"BuildsUnchanged",
                  Builds,
                  {"cuts|cuts|1.0.1||Tweaks|iphoneos-arm|0", "cuts|cuts|2.0||Tweaks|iphoneos-arm|0",
                   "elite|elite|5.0||Tweaks|iphoneos-arm|0",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64e|0",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64|0", "theme|theme|1||Tweaks|all|0"},
                  Builds},
        // Only the build that was added since is new.
        TLoadCase{"OneNewBuild",
                  Builds,
                  {"cuts|cuts|1.0.1||Tweaks|iphoneos-arm|0", "cuts|cuts|2.0||Tweaks|iphoneos-arm|0",
                   "elite|elite|5.0||Tweaks|iphoneos-arm|0",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64e|2",
                   "elite|elite|5.2.2||Tweaks|iphoneos-arm64|0", "theme|theme|1||Tweaks|all|0"},
                  Build("elite", "5.0", "iphoneos-arm") +
                      Build("elite", "5.2.2", "iphoneos-arm64") +
                      Build("cuts", "2.0", "iphoneos-arm") +
                      Build("cuts", "1.0.1", "iphoneos-arm") + Build("theme", "1", "all")}),
    [](const auto& info) { return info.param.Name; });

class LoadingStore : public CatalogueFolder {};

// Stanzas far smaller than the table of rows is sized for make it grow; a
// stanza repeated after that still makes no second row.
TEST_F(LoadingStore, RepeatedStanzaAfterTheTableOfRowsGrewMakesNoRow) {
    std::string index;
    for (int i = 0; i < 300; ++i)
        index += "Package: p" + std::to_string(i) + "\n\n";
    Write("proc/r_Packages", index + "Package: p0\n\nPackage: p150\n");
    EXPECT_EQ(LoadPackages(Proc(), Lists(), Archives()).size(), 300u);
}

TEST_F(LoadingStore, ReadsOnlyFilesNamedLikeIndexes) {
    Write("proc/a_Packages", "Package: a\n");
    Write("proc/b_packages", "Package: b\n");
    Write("proc/cache.txt", "Package: cache\n");
    Write("proc/a_Packages.bak", "Package: bak\n");
    ASSERT_TRUE(QDir(Proc()).mkdir(QStringLiteral("dir_Packages")));
    Write("proc/dir_Packages/x_Packages", "Package: nested\n");
    ASSERT_EQ(::mkfifo(QFile::encodeName(Path("proc/fifo_Packages")).constData(), 0600), 0);
    ASSERT_EQ(::symlink("a_Packages", QFile::encodeName(Path("proc/link_Packages")).constData()),
              0);
    std::vector<std::string> ids; // and the pipe is not waited on
    for (const TPackageRow& r : LoadPackages(Proc(), Lists(), Archives()))
        ids.emplace_back(r.Package());
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (std::vector<std::string>{"a", "b"}));
}

// A reference copy too big to read (a sparse file, so the test writes little)
// drops the rows of its index; the other indexes keep theirs, still in order:
// the flagged rows first, each group by caption.
// A reference that is no file counts as absent.
TEST_F(LoadingStore, ReferenceThatCannotBeReadDropsItsIndex) {
    Write("proc/a_Packages", "Package: a1\nName: zulu\n\nPackage: a2\nName: alpha\n");
    Write("proc/b_Packages", "Package: b1\nName: mike\n\nPackage: b2\nName: bravo\n");
    Write("proc/c_Packages", "Package: c1\nName: charlie\n");
    Write("lists/b_Packages", "Package: b2\n");
    ASSERT_TRUE(QDir(Lists()).mkdir(QStringLiteral("c_Packages")));
    QFile huge(Path("lists/a_Packages"));
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 31));
    huge.close();
    std::vector<std::string> rows;
    QStringList skipped;
    for (const TPackageRow& r : LoadPackages(Proc(), Lists(), Archives(), &skipped))
        rows.push_back(std::string(r.Package()) + ":" + std::to_string(r.State));
    EXPECT_EQ(rows, (std::vector<std::string>{"c1:2", "b1:2", "b2:0"}));
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_TRUE(skipped[0].contains(Path("lists/a_Packages"))) << skipped[0].toStdString();
}

// The peak resident memory of the process since the last reset, in bytes
// (0 where it cannot be read).
std::uint64_t ResetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1 ? 1 : 0;
}
std::uint64_t PeakMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toULongLong() * 1024;
    return 0;
}

// Whatever the store and the reference copies hold, the load stays bounded:
// an index or a copy beyond the limits is skipped with its reason, and the
// catalogue stops at its room. Tiny stanzas cost the most memory per byte.
TEST_F(LoadingStore, IndexesBeyondTheLimitsAreSkippedAndMemoryStaysBounded) {
    auto tiny = [](const std::string& tag, std::uint64_t count) {
        std::string text;
        text.reserve(count * 16);
        for (std::uint64_t i = 0; i < count; ++i)
            text += "Package: " + tag + std::to_string(i) + "\n\n";
        return text;
    };
    const std::uint64_t most = SafeFiles::MaxIndexStanzas;
    Write("proc/full_Packages", tiny("f", most));
    Write("proc/over_Packages", tiny("o", most + 1));
    Write("proc/half_Packages", tiny("h", most / 2));
    Write("proc/third_Packages", tiny("t", most * 3 / 4));
    Write("proc/copied_Packages", "Package: c\n");
    Write("lists/copied_Packages", std::string(most + 1, '\n') + tiny("c", most + 1));
    QFile huge(Path("proc/huge_Packages")); // sparse: the test writes nothing
    ASSERT_TRUE(huge.open(QIODevice::WriteOnly) &&
                huge.resize(qint64(SafeFiles::MaxIndexSize) + 1));
    huge.close();

    [[maybe_unused]] const bool measured = ResetPeakMemory() != 0;
    QStringList skipped;
    const TPackageRows rows = LoadPackages(Proc(), Lists(), Archives(), &skipped);
    [[maybe_unused]] const std::uint64_t peak = PeakMemory();
    std::map<char, std::uint64_t> byIndex;
    for (const TPackageRow& r : rows)
        ++byIndex[r.Package()[0]];
    auto said = [&skipped](const char* text) {
        return skipped.filter(QString::fromUtf8(text)).size();
    };
    EXPECT_EQ(said("huge_Packages пропущен: файл больше"), 1) << skipped.join('\n').toStdString();
    // The loading threads race for the catalogue's room: an index may meet a
    // full catalogue before its own fault, so either reason may name it.
    EXPECT_EQ(said("copied_Packages пропущен: его копия") +
                  said("copied_Packages пропущен: в каталоге больше нет места"),
              1);
    EXPECT_EQ(said("over_Packages пропущен: больше 250000 пакетов") +
                  said("over_Packages пропущен: в каталоге больше нет места"),
              1);
    // Of the three that fit alone, the catalogue holds what fits together.
    EXPECT_EQ(skipped.size(), qsizetype(3 + (3 - byIndex.size())));
    EXPECT_EQ(byIndex.count('o') + byIndex.count('c'), 0u);
    EXPECT_LE(rows.size(), SafeFiles::MaxCatalogueRows);
    for (const auto& [tag, count] : byIndex)
        EXPECT_EQ(count, tag == 'f' ? most : tag == 'h' ? most / 2 : most * 3 / 4) << tag;
#if !defined(__SANITIZE_ADDRESS__)
    if (measured) {
        EXPECT_LT(peak, std::uint64_t(384) << 20);
    }
#endif
}

TEST_F(LoadingStore, HugeLineWithoutLineEnd) {
    std::string index = "Package: big\nName: Big\nDescription: ";
    index.append(30u << 20, 'd');
    Write("proc/big_Packages", index);
    const TPackageRows rows = LoadPackages(Proc(), Lists(), Archives());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Description(), std::string(256, 'd'));
    EXPECT_EQ(rows[0].Caption(), "Big");
}

// An index of some megabytes is read a piece at a time: a stanza that spans
// two pieces, one longer than a piece, every form of empty line and the
// end-of-text byte far from the start must give what one whole read gives.
TEST_F(LoadingStore, LongIndexAndReferenceReadInPieces) {
    const char* const empty[] = {"\n", "\r\n", "\r\r\n"};
    std::string index, reference;
    constexpr int Stanzas = 6000;
    for (int i = 0; i < Stanzas; ++i) {
        const std::string id = std::to_string(i);
        std::string filler = "Description: d" + id + "\n";
        for (int k = 0; k < 8; ++k)
            filler += " filler line of the long description, number " + std::to_string(k) + "\n";
        if (i == Stanzas / 2)
            filler += " " + std::string(3u << 20, 'z') + "\n";
        index += "Package: p" + id + "\r\nName: N" + id + "\nVersion: " + id + "\n" + filler +
                 empty[i % 3];
        reference += "Package: p" + id + "\r\nVersion: " + id + (i % 2 ? "b" : "") + "\r\n" +
                     filler + empty[(i + 1) % 3];
    }
    Write("proc/r_Packages", index + "\x1APackage: ghost\n");
    Write("lists/r_Packages", reference);
    const TPackageRows rows = LoadPackages(Proc(), Lists(), Archives());
    ASSERT_EQ(rows.size(), std::size_t(Stanzas));
    std::vector<bool> seen(Stanzas, false);
    for (const TPackageRow& r : rows) {
        const int i = std::stoi(std::string(r.Version()));
        ASSERT_FALSE(seen[i]);
        seen[i] = true;
        EXPECT_EQ(r.Package(), "p" + std::string(r.Version()));
        EXPECT_EQ(r.Caption(), "N" + std::string(r.Version()));
        EXPECT_EQ(r.Description(), "d" + std::string(r.Version()));
        EXPECT_EQ(r.State, i % 2 ? StateNewOrUpdated : 0) << i;
    }
}

// The indexes are read side by side, biggest first, yet the category still
// carries over from index to index in their listed order, past indexes that
// give no rows and past indexes that set none.
TEST_F(LoadingStore, SectionCarriesOverIndexesInListedOrder) {
    struct TIndex {
        std::string Text;
        std::vector<std::string> Carried; // rows before the first Section line
        std::string Last;                 // the category it leaves, if any
    };
    std::string big = "Package: b1\n\nSection: Big\n\n";
    for (int i = 0; i < 2000; ++i)
        big += "Package: bx" + std::to_string(i) + "\nDescription: filler filler filler\n\n";
    const std::map<std::string, TIndex> indexes = {
        {"a", {"Package: a1\nSection: Alpha\n\nPackage: a2\n", {}, "Alpha"}},
        {"b", {big, {"b1"}, "Big"}},
        {"d", {"Package: d1\n\nPackage: d2\n", {"d1", "d2"}, ""}},
        {"e", {"Package: e1\n\nPackage: e2\nSection: Echo\n\nPackage: e3\n", {"e1"}, "Echo"}},
        {"f", {"Package: f1\n", {"f1"}, ""}}};
    for (const auto& [name, index] : indexes)
        Write("proc/" + name + "_Packages", index.Text);
    ASSERT_TRUE(QDir(Proc()).mkdir(QStringLiteral("c_Packages")));

    std::map<std::string, std::string> expected;
    std::string carried;
    for (const QString& file : IndexStore::ListIndexFiles(Proc())) {
        const auto it = indexes.find(file.section(QLatin1Char('_'), 0, 0).toStdString());
        if (it == indexes.end())
            continue; // the folder
        for (const std::string& package : it->second.Carried)
            expected[package] = carried;
        if (!it->second.Last.empty())
            carried = it->second.Last;
    }
    std::map<std::string, std::string> sections;
    for (const TPackageRow& r : LoadPackages(Proc(), Lists(), Archives()))
        if (r.Package() == "a1" || r.Package() == "a2")
            EXPECT_EQ(r.Section(), "Alpha");
        else if (r.Package() == "e2" || r.Package() == "e3")
            EXPECT_EQ(r.Section(), "Echo");
        else if (r.Package().starts_with("bx"))
            EXPECT_EQ(r.Section(), "Big") << r.Package();
        else
            sections[std::string(r.Package())] = std::string(r.Section());
    EXPECT_EQ(sections, expected);
}

TEST(SortPackages, CLocaleStillSortsLinguistically) {
    TLocaleGuard locale(QLocale::c());
    TPackageRows rows = {Row("b", "1"), Row("B", "2"), Row("a", "3"), Row("A", "4")};
    SortPackages(rows);
    std::string order;
    for (const TPackageRow& r : rows)
        order += r.Package();
    EXPECT_EQ(order, "3412");
}

// The fast path guesses the order of ASCII captions and merges the others in;
// whatever it does, the result must be the plain stable collation order, also
// in locales whose contractions or case order break the guess.
TEST(SortPackages, SameOrderAsAPlainCollationSort) {
    const char* pieces[] = {
        "a",   "A",    "b", "B", "ch",       "Ch",       "aa",       "AA",       "z",
        "1",   "10",   "2", " ", "-",        "_",        ".",        "+",        "(",
        "\t",  "\x01", "y", "i", "\xD0\xB0", "\xD0\x90", "\xC3\xA5", "\xC3\xA6", "\xF0\x9F\x98\x80",
        "\xFF"};
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7FFF;
    };
    TPackageRows rows;
    for (int i = 0; i < 3000; ++i) {
        std::string caption;
        const int parts = int(next() % 5);
        // Mostly ASCII, as in real indexes; one in twenty rows has anything.
        const bool ascii = next() % 20 != 0;
        for (int k = 0; k < parts; ++k)
            caption += pieces[next() % (ascii ? 22 : std::size(pieces))];
        rows.push_back(Row(caption, std::to_string(i)));
    }
    for (const QLocale& locale :
         {QLocale(QLocale::English, QLocale::UnitedStates),
          QLocale(QLocale::Russian, QLocale::Russia), QLocale(QLocale::Danish, QLocale::Denmark),
          QLocale(QLocale::Czech, QLocale::CzechRepublic),
          QLocale(QLocale::Lithuanian, QLocale::Lithuania)}) {
        TLocaleGuard guard(locale);
        TPackageRows expected = rows;
        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseSensitive);
        std::stable_sort(expected.begin(), expected.end(),
                         [&](const TPackageRow& a, const TPackageRow& b) {
                             return collator.compare(QString::fromUtf8(a.Caption()),
                                                     QString::fromUtf8(b.Caption())) < 0;
                         });
        TPackageRows actual = rows;
        SortPackages(actual);
        const auto order = [](const TPackageRows& sorted) {
            std::string ids;
            for (const TPackageRow& r : sorted)
                ids += std::string(r.Package()) + ",";
            return ids;
        };
        EXPECT_EQ(order(actual), order(expected)) << locale.name().toStdString();
    }
}

} // namespace
