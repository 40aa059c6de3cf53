#include "control/Settings.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Files.h"

namespace {

using TestFiles::ReadBytes;
using TestFiles::WriteBytes;

TSourceList MakeSources(const QStringList& texts) {
    TSourceList list;
    for (const QString& t : texts)
        list.Append(t, true);
    return list;
}

std::vector<bool> Checks(const TSourceList& list) {
    std::vector<bool> checks;
    for (const TSourceEntry& e : list.Entries())
        checks.push_back(e.Checked);
    return checks;
}

class SettingsTest : public ::testing::Test {
protected:
    QString Path() const { return dir_.filePath(QStringLiteral("orvia.ini")); }
    QTemporaryDir dir_;
};

TEST(SettingsFilePath, ProgramNamePlusIniBesideIt) {
    EXPECT_EQ(Settings::SettingsFilePath("/x/orvia"), QStringLiteral("/x/orvia.ini"));
    EXPECT_EQ(Settings::SettingsFilePath("/opt/my.app/orvia"),
              QStringLiteral("/opt/my.app/orvia.ini"));
    EXPECT_EQ(Settings::SettingsFilePath("/x/orvia.bin"), QStringLiteral("/x/orvia.ini"));
    EXPECT_EQ(Settings::SettingsFilePath("/x/orvia.v2.bin"), QStringLiteral("/x/orvia.v2.ini"));
}

TEST_F(SettingsTest, NoFileMeansDefaults) {
    TSourceList sources = MakeSources({"http://a/Packages", "http://b/Packages"});
    sources.SetChecked(1, false); // LoadSettings checks every source first
    TIniFile ini(Path());
    EXPECT_EQ(Settings::LoadSettings(ini, sources), TOptions{});
    EXPECT_EQ(Checks(sources), (std::vector<bool>{true, true}));
    EXPECT_EQ(Settings::ReadActivePage(ini), 0);
}

// Foreign lines stay, stale copies of the disabled section go.
TEST_F(SettingsTest, SaveWritesTheDocumentedLayoutAndLoadsItBack) {
    WriteBytes(Path(), "; mine\n[Disabled]\n0=old\n[Window]\nx=1\n[disabled]\n7=older\n");
    const QStringList texts = {"http://a/Packages", "http://b/Packages", "http://c/Packages",
                               "http://d/Packages"};
    TSourceList sources = MakeSources(texts);
    sources.SetChecked(1, false);
    sources.SetChecked(3, false);
    TOptions settings;
    settings.Refresh = true;
    settings.PutCydia = true;
    settings.PutAutoInstall = true;
    settings.Architecture = QStringLiteral("iphoneos-arm64");
    TIniFile ini(Path());
    ASSERT_TRUE(Settings::SaveSettings(ini, settings, 1, sources));
    EXPECT_EQ(ReadBytes(Path()),
              QByteArray("; mine\n[Window]\nx=1\n[Settings]\nRefresh=1\nGetCydia=0\nPutCydia=1\n"
                         "PutDebs=0\nPutAutoInstall=1\nActivePage=1\nArchitecture=iphoneos-arm64\n"
                         "[Disabled]\n0=http://b/Packages\n1=http://d/Packages\n"
                         "[Sources]\nCount=4\n0=http://a/Packages\n1=http://b/Packages\n"
                         "2=http://c/Packages\n3=http://d/Packages\n"));

    TSourceList reloaded = MakeSources(texts);
    EXPECT_EQ(Settings::LoadSettings(ini, reloaded), settings);
    EXPECT_EQ(Checks(reloaded), (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(Settings::ReadActivePage(ini), 1);

    // Every source checked again: no section is left behind.
    sources.ApplyDisabled({});
    ASSERT_TRUE(Settings::SaveSettings(ini, TOptions{}, 2, sources));
    EXPECT_FALSE(ReadBytes(Path()).contains("Disabled"));
}

TEST_F(SettingsTest, EachDisabledValueUnchecksTheFirstSourceItNames) {
    const struct {
        const char* Name;
        QByteArray Disabled; // body of section "Disabled"
        QStringList Sources;
        std::vector<bool> Checks;
    } cases[] = {
        {"OtherLetterCase", "0=HTTP://A/packages\n", {"http://a/Packages", "x"}, {false, true}},
        // Three key lines: keys 0, 1 and 2 are looked up; 2 is missing, 5 never read.
        {"GapInKeys", "0=a\n1=b\n5=c\n", {"a", "b", "c", "d"}, {false, false, true, true}},
        {"TwoSourcesDifferingInCase", "0=A\n", {"a", "A"}, {false, true}},
        {"BothCaseVariantsListed", "0=a\n1=A\n", {"a", "A"}, {false, true}},
        {"UnknownValueIgnored", "0=gone\n", {"a"}, {true}},
        {"KeysInAnyOrder", "1=b\n0=a\n", {"a", "b", "c"}, {false, false, true}},
        {"FirstOfDuplicateKeys", "0=a\n0=b\n", {"a", "b"}, {false, true}},
        {"CommentsAreNotKeys", "; 1=b\n0=a\n1=b\n", {"a", "b"}, {false, false}},
        {"MissingKeyDoesNotMatchEmptySource", "1=a\n", {"", "a"}, {true, true}},
        {"EmptyValueMatchesEmptySource", "0=\n", {"a", ""}, {true, false}}};
    for (const auto& c : cases) {
        WriteBytes(Path(), "[Disabled]\n" + c.Disabled);
        TSourceList sources = MakeSources(c.Sources);
        Settings::LoadSettings(TIniFile(Path()), sources);
        EXPECT_EQ(Checks(sources), c.Checks) << c.Name;
    }
}

// Only a known architecture is read, anything else as all; a page outside
// the four is -1. Names in any letter case. (How numbers read is IniFileTest's.)
TEST_F(SettingsTest, ValuesReadAsTheProgramMeansThem) {
    const struct {
        const char* Architecture;
        const char* Page;
        const char* ArchitectureRead;
        int PageRead;
    } cases[] = {
        {"iphoneos-arm", "3", "iphoneos-arm", 3},
        {"iphoneos-arm64e", "4", "iphoneos-arm64e", -1},
        {" IPHONEOS-ARM64 ", "-1", "iphoneos-arm64", -1},
        {"", "abc", "", 0},
        {"arm64", "0", "", 0},
        {"iphoneos-arm64 e", "", "", 0},
        {"all", "2", "", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Architecture);
        WriteBytes(Path(), QByteArray("[settings]\narchitecture=") + c.Architecture +
                               "\nactivepage=" + c.Page + "\nrefresh=1\n");
        TSourceList sources;
        const TOptions read = Settings::LoadSettings(TIniFile(Path()), sources);
        EXPECT_EQ(read.Architecture, QString::fromLatin1(c.ArchitectureRead));
        EXPECT_TRUE(read.Refresh);
        EXPECT_EQ(Settings::ReadActivePage(TIniFile(Path())), c.PageRead);
    }
    // A value that does not read back is not written either (the key keeps
    // its spelling in the file).
    TOptions odd;
    odd.Architecture = QStringLiteral("x86\n[Settings]");
    TSourceList none;
    TIniFile ini(Path());
    ASSERT_TRUE(Settings::SaveSettings(ini, odd, 0, none));
    EXPECT_TRUE(ReadBytes(Path()).contains("\narchitecture=\n"));
}

TEST_F(SettingsTest, TheSourceListComesBackAsTheUserLeftIt) {
    // Order of adding, an unchecked source, one that never refreshed (no
    // index in the store) and an https one; a deleted source is not written.
    TSourceList sources = MakeSources({"http://z/./Packages", "http://never/./Packages"});
    sources.Add(QStringLiteral("https://a/repo/"));
    sources.Append(QStringLiteral("http://deleted/./Packages"));
    sources.Remove(3);
    sources.SetChecked(0, false);
    TIniFile ini(Path());
    ASSERT_TRUE(Settings::SaveSettings(ini, TOptions{}, 0, sources));

    // The list rebuilt from the store (here with the deleted source back, in
    // another order, all checked) gives way to the saved one.
    TSourceList reloaded = MakeSources(
        {"http://deleted/./Packages", "http://a/repo/./Packages", "http://z/./Packages"});
    Settings::LoadSettings(ini, reloaded);
    EXPECT_EQ(reloaded.Texts(), (QStringList{"http://z/./Packages", "http://never/./Packages",
                                             "https://a/repo/./Packages"}));
    EXPECT_EQ(Checks(reloaded), (std::vector<bool>{false, true, true}));
    EXPECT_TRUE(reloaded.IsHttps(QStringLiteral("a_repo_._Packages")));

    // Even an empty list stays empty.
    TSourceList none;
    ASSERT_TRUE(Settings::SaveSettings(ini, TOptions{}, 0, none));
    Settings::LoadSettings(ini, reloaded);
    EXPECT_EQ(reloaded.Count(), 0);
}

TEST_F(SettingsTest, WithoutASavedListTheStoreListStaysUnderItsRememberedSchemes) {
    // A file of an earlier version, or one without the list: the store's list
    // stays; a remembered https source is fetched over https.
    WriteBytes(Path(), "[Https]\n0=a_repo_._Packages\n[Disabled]\n0=http://z/./Packages\n");
    TSourceList sources = MakeSources({"http://a/repo/./Packages", "http://z/./Packages"});
    Settings::LoadSettings(TIniFile(Path()), sources);
    EXPECT_EQ(sources.Texts(), (QStringList{"https://a/repo/./Packages", "http://z/./Packages"}));
    EXPECT_EQ(Checks(sources), (std::vector<bool>{true, false}));

    // A hand-edited list: blank values and gaps are skipped, "Count" alone
    // marks the list as saved.
    WriteBytes(Path(), "[Sources]\nCount=9\n1=http://b/./Packages\n0=  \n2=x\n");
    Settings::LoadSettings(TIniFile(Path()), sources);
    EXPECT_EQ(sources.Texts(), (QStringList{"http://b/./Packages", "x"}));
}

TEST_F(SettingsTest, FailedSaveLeavesTheOldSettingsWhole) {
    // The disabled sources push the file over its size limit: nothing of the
    // new settings may be saved, not even the options written first.
    const QByteArray before = "[Settings]\nRefresh=0\nActivePage=1\n";
    WriteBytes(Path(), before);
    TSourceList sources;
    for (int i = 0; i < 1100; ++i)
        sources.Append(QString(1000, QLatin1Char('a' + i % 26)) + QString::number(i), false);
    TIniFile ini(Path());
    TOptions settings;
    settings.Refresh = true;
    EXPECT_FALSE(Settings::SaveSettings(ini, settings, 3, sources));
    EXPECT_FALSE(ini.ErrorString().isEmpty());
    EXPECT_EQ(ReadBytes(Path()), before);
}

TEST_F(SettingsTest, OddSourceTextsSurviveTheRoundTrip) {
    // A file name in the store may hold a line break or another control
    // character, and a pasted text may be huge; such a source cannot be kept
    // and must fail neither the save nor take the numbering or the rest of the
    // file with it.
    const QStringList texts{" padded ",
                            "evil\n[Settings]\nRefresh=1",
                            "\"quoted\"",
                            "cr\ronly",
                            "tab\there",
                            "esc\x1b[2J",
                            QString(Settings::MaxValueLength + 1, QLatin1Char('x')),
                            QString(1100000, QLatin1Char('y')),
                            QString(Settings::MaxValueLength, QLatin1Char('z')),
                            "ok"};
    TSourceList sources = MakeSources(texts);
    for (int i = 0; i < sources.Count(); ++i)
        sources.SetChecked(i, false);
    TIniFile ini(Path());
    ASSERT_TRUE(Settings::SaveSettings(ini, TOptions{}, 0, sources))
        << ini.ErrorString().toStdString();
    EXPECT_EQ(ini.ReadSectionKeys("Disabled"), (QStringList{"0", "1", "2", "3"}));

    // The list read back holds the texts the file could keep, in order.
    TSourceList reloaded = MakeSources(texts);
    const TOptions loaded = Settings::LoadSettings(ini, reloaded);
    EXPECT_FALSE(loaded.Refresh);
    EXPECT_EQ(reloaded.Texts(),
              (QStringList{" padded ", "\"quoted\"",
                           QString(Settings::MaxValueLength, QLatin1Char('z')), "ok"}));
    EXPECT_EQ(Checks(reloaded), (std::vector<bool>{false, false, false, false}));
}

} // namespace
