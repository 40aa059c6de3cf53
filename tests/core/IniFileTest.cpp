#include "base/IniFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/IniReadCases.h"

#include <sys/stat.h>

namespace {

using TestFiles::ReadBytes;
using TestFiles::WriteBytes;

class IniFileTest : public ::testing::Test {
protected:
    QString Path() const { return dir_.filePath(QStringLiteral("orvia.ini")); }
    TIniFile WithContent(const QByteArray& bytes) {
        WriteBytes(Path(), bytes);
        return TIniFile(Path());
    }
    QTemporaryDir dir_;
};

// --------------------------------------------------------------------------
// The reading rule the phone plugin shares, on the same table as its reader.
class IniRead : public IniFileTest, public ::testing::WithParamInterface<TIniReadCase> {};

TEST_P(IniRead, FindsTheValueThePluginFindsToo) {
    const TIniReadCase& c = GetParam();
    const TIniFile ini =
        WithContent(QByteArray(c.Text.data(), static_cast<qsizetype>(c.Text.size())));
    const QString def = QStringLiteral("<default>");
    const QString got = ini.ReadString(QStringLiteral("T-Pot"), QString::fromUtf8(c.Key), def);
    EXPECT_EQ(got, c.Expected ? QString::fromUtf8(c.Expected) : def);
}

INSTANTIATE_TEST_SUITE_P(Shared, IniRead, ::testing::ValuesIn(IniReadCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(IniFileTest, MissingFileGivesDefaultsAndAnEraseDoesNotCreateIt) {
    TIniFile ini(Path());
    EXPECT_EQ(ini.ReadString("S", "k", "d"), QStringLiteral("d"));
    EXPECT_EQ(ini.ReadString("S", "k", " d \t "), QStringLiteral(" d")); // trailing blanks go
    EXPECT_EQ(ini.ReadInteger("S", "k", 42), 42);
    EXPECT_TRUE(ini.ReadSectionKeys("S").isEmpty());
    EXPECT_TRUE(ini.EraseSection("Disabled"));
    EXPECT_FALSE(QFile::exists(Path()));
    // Names match without letter case beyond ASCII too.
    EXPECT_EQ(WithContent("[Раздел]\nКлюч=да\n").ReadString("раздел", "КЛЮЧ", "нет"),
              QStringLiteral("да"));
}

// --------------------------------------------------------------------------
TEST(ProfileInteger, ParsesDecimalAndHexOnly) {
    const std::pair<const char*, int> accepted[] = {{"0", 0},
                                                    {"7", 7},
                                                    {"007", 7},
                                                    {"-5", -5},
                                                    {"+5", 5},
                                                    {"0x10", 16},
                                                    {"0X1f", 31},
                                                    {"-0x10", -16},
                                                    {"2147483647", 2147483647},
                                                    {"-2147483648", -2147483647 - 1}};
    for (const auto& [text, expected] : accepted) {
        int value = -12345;
        EXPECT_TRUE(ParseProfileInteger(QString::fromUtf8(text), value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
    for (const char* text : {"2147483648", "0xFFFFFFFF", "99999999999999999999999999", "yes", "",
                             "-", "0x", "7abc", "1.5", " 7", "0x1g", "\u0663"}) {
        int value = -12345;
        EXPECT_FALSE(ParseProfileInteger(QString::fromUtf8(text), value)) << text;
        EXPECT_EQ(value, -12345) << text;
    }
}

TEST_F(IniFileTest, IntegersAndBooleansFallBackToTheDefault) {
    const TIniFile ini =
        WithContent("[S]\nseven=7\nyes=yes\nhex = \"0x1F\" \nzero=0\nbig=4294967296\n");
    EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("S", "big", -1), -1);
    EXPECT_TRUE(ini.ReadBool("S", "seven", false));
    EXPECT_FALSE(ini.ReadBool("S", "yes", false));
    EXPECT_TRUE(ini.ReadBool("S", "yes", true));
    EXPECT_FALSE(ini.ReadBool("S", "zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "missing", true));
}

TEST_F(IniFileTest, SectionKeysCountKeyLinesOfTheFirstSectionOnly) {
    const TIniFile ini =
        WithContent("[Disabled]\n0=a\n; note\nnot a key\n1=b\n\n5=c\n[Other]\nx=1\n"
                    "[DISABLED]\n9=z\n");
    EXPECT_EQ(ini.ReadSectionKeys("disabled"), (QStringList{"0", "1", "5"}));
    const std::vector<TIniEntry> entries = ini.ReadSection("Disabled");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].Key, QStringLiteral("5"));
    EXPECT_EQ(entries[2].Value, QStringLiteral("c"));
}

// --------------------------------------------------------------------------
TEST_F(IniFileTest, WritesKeepEveryUnchangedByteAndLineBreak) {
    TIniFile ini = WithContent("; top\r\n[Settings]\r\n  refresh = 0 \r\nfoo\r\n\r\n"
                               "[Other]\r\nx=\xff\xfe\r\n[settings]\rNew=old\r");
    ASSERT_TRUE(ini.WriteString("SETTINGS", "Refresh", "1"));
    ASSERT_TRUE(ini.WriteString("Settings", "New", "2"));
    ASSERT_TRUE(ini.WriteString("settings", "New", "3")); // a lone CR ends a line
    // The existing key keeps its spelling, place and line break; the new one
    // goes to the end of the first matching section, ahead of the blank line;
    // invalid UTF-8 in a foreign line survives byte for byte.
    EXPECT_EQ(ReadBytes(Path()), QByteArray("; top\r\n[Settings]\r\nrefresh=1\r\nfoo\r\nNew=3\n"
                                            "\r\n[Other]\r\nx=\xff\xfe\r\n[settings]\rNew=old\r"));
    // A last line without a break gets one only when a line follows it.
    TIniFile bare = WithContent("[S]\nk=1");
    ASSERT_TRUE(bare.WriteString("T", "k", "2"));
    ASSERT_TRUE(bare.WriteString("T", "j", "3"));
    EXPECT_EQ(ReadBytes(Path()), QByteArray("[S]\nk=1\n[T]\nk=2\nj=3\n"));
    EXPECT_TRUE(bare.ErrorString().isEmpty());
    // The first write makes the file.
    QFile::remove(Path());
    ASSERT_TRUE(bare.WriteString("Disabled", "0", "http://a/Packages"));
    EXPECT_EQ(ReadBytes(Path()), QByteArray("[Disabled]\n0=http://a/Packages\n"));
}

TEST_F(IniFileTest, ValuesReadBackExactlyAsWritten) {
    TIniFile ini(Path());
    const QStringList values = {
        "plain", "  lead", "trail ", "\"q\"", "'q'",  "a\"",   "\"",
        "",      "Привет", "x=y",    ";no",   "[no]", "tab\t", QStringLiteral("\uFEFFmark")};
    for (int i = 0; i < values.size(); ++i)
        ASSERT_TRUE(ini.WriteString("S", QString::number(i), values[i])) << i;
    for (int i = 0; i < values.size(); ++i)
        EXPECT_EQ(ini.ReadString("S", QString::number(i), "<d>"), values[i]) << i;
    // Only values that reading would change are quoted.
    EXPECT_TRUE(ReadBytes(Path()).contains("\n0=plain\n1=\"  lead\"\n"));
}

// U+FEFF is a byte order mark only at the very start of the file; anywhere
// else it is part of a name and must be found again, whatever blanks surround it.
TEST_F(IniFileTest, NamesStartingWithU_FEFFAreFoundAndErasedAgain) {
    TIniFile ini = WithContent("x\n");
    const QString section = QStringLiteral("  \uFEFF S");
    const QString key = QStringLiteral("\uFEFFk");
    ASSERT_TRUE(ini.WriteString(section, key, "v"));
    EXPECT_EQ(ini.ReadString(section, key, "<d>"), "v");
    EXPECT_EQ(ini.ReadSectionKeys(section), QStringList{key});
    ASSERT_TRUE(ini.EraseSection(section));
    EXPECT_EQ(ReadBytes(Path()), QByteArray("x\n"));
}

TEST_F(IniFileTest, NamesAndValuesThatBreakTheLineLeaveTheFileAlone) {
    const char* const refused[][3] = {{"S", "k", "v\n[Settings]\nRefresh=1"},
                                      {"S", "k", "v\rw"},
                                      {"S", "a=b", "v"},
                                      {"S", "", "v"},
                                      {"S", ";k", "v"},
                                      {"S", "[k", "v"},
                                      {"a]b", "k", "v"},
                                      {"", "k", "v"},
                                      {"S\nT", "k", "v"}};
    const QByteArray before = "[S]\nk=v\n";
    TIniFile ini = WithContent(before);
    for (const auto& [section, key, value] : refused) {
        EXPECT_FALSE(ini.WriteString(QString::fromUtf8(section), QString::fromUtf8(key),
                                     QString::fromUtf8(value)))
            << section << "/" << key;
        EXPECT_FALSE(ini.ErrorString().isEmpty());
    }
    EXPECT_EQ(ReadBytes(Path()), before);
}

TEST_F(IniFileTest, ManySectionsOfOneNameAreErasedInOnePass) {
    // Close to the size limit: a removal that rescanned the file per section
    // would take hours here.
    QByteArray content;
    for (int i = 0; i < 50000; ++i)
        content += "[A]\n";
    for (int i = 0; i < 50000; ++i)
        content += "[Disabled]\nk=v\n";
    TIniFile ini = WithContent(content);
    ASSERT_TRUE(ini.EraseSection("disabled"));
    EXPECT_EQ(ReadBytes(Path()), content.left(50000 * 4));
}

// Every copy of the section goes, with its comments, and nothing else.
TEST_F(IniFileTest, ReplaceSectionEqualsEraseThenWrites) {
    const QByteArray start =
        "[A]\na=1\n[Disabled]\n0=old\n; c\n[Settings]\nRefresh=1\n[disabled]\n1=y\n";
    TIniFile stepwise = WithContent(start);
    ASSERT_TRUE(stepwise.EraseSection("Disabled"));
    ASSERT_TRUE(stepwise.WriteString("Disabled", "0", " a"));
    ASSERT_TRUE(stepwise.WriteString("Disabled", "1", "b"));
    ASSERT_TRUE(stepwise.WriteString("Disabled", "0", "c"));
    const QByteArray expected = ReadBytes(Path());

    TIniFile atOnce = WithContent(start);
    ASSERT_TRUE(atOnce.ReplaceSection("Disabled", {{"0", " a"}, {"1", "b"}, {"0", "c"}}));
    EXPECT_EQ(ReadBytes(Path()), expected);
    EXPECT_EQ(expected, QByteArray("[A]\na=1\n[Settings]\nRefresh=1\n[Disabled]\n0=c\n1=b\n"));
}

// --------------------------------------------------------------------------
// Failed writes (the file layer's own tests cover cut-short writes). A file
// that is there but cannot be read is never replaced.

TEST_F(IniFileTest, FileThatCannotBeReadIsNeverReplaced) {
    const QByteArray native = QFile::encodeName(Path());
    QByteArray huge = "[S]\nk=1\n";
    huge.append(QByteArray(TIniFile::MaxFileSize, 'x'));
    // Oversized, or a FIFO (opening it blocking would hang the read).
    for (const bool fifo : {false, true}) {
        SCOPED_TRACE(fifo);
        if (fifo)
            ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
        else
            WriteBytes(Path(), huge);
        TIniFile ini(Path());
        EXPECT_EQ(ini.ReadInteger("S", "k", 5), 5);
        EXPECT_FALSE(ini.WriteString("S", "k", "v"));
        EXPECT_TRUE(ini.ErrorString().contains(Path())) << ini.ErrorString().toStdString();
        EXPECT_FALSE(ini.EraseSection("S"));
        struct stat st {};
        EXPECT_TRUE(::lstat(native.constData(), &st) == 0 && S_ISFIFO(st.st_mode) == fifo);
        EXPECT_TRUE(fifo || ReadBytes(Path()) == huge);
        ASSERT_TRUE(QFile::remove(Path()));
    }
    // Nor is a write that would outgrow the limit made.
    TIniFile ini(Path());
    EXPECT_FALSE(ini.WriteString("S", "k", QString(TIniFile::MaxFileSize, QLatin1Char('y'))));
    EXPECT_FALSE(QFile::exists(Path()));
}

} // namespace
