// The plugin's settings file: parsing, bad values, and the file written with
// its defaults when missing.

#include "plugin/Settings.h"
#include "TestFolder.h"
#include "plugin/PhonePath.h"
#include "plugin/TransportFactory.h"

#include <gtest/gtest.h>

namespace {

TEST(PluginSettings, ParsesTheSectionAndFallsBackToDefaultsForBadValues) {
    const struct {
        const char* Name;
        const char* Text;
        const char* Transport;
        const char* Udid;
        const char* Folder;
        const char* Prefix;
        std::size_t Warnings;
    } cases[] = {
        {"empty", "", "usb", "", "", "", 0},
        {"all keys, any case, spaces, CRLF, quotes",
         "\xEF\xBB\xBF; comment\r\n[t-pot]\r\n  transport = Folder \r\nudid=00008030-001A2B3C\r\n"
         "FOLDER=\"/mnt/phone\"\r\nRootPrefix=/var//jb/\r\n",
         "folder", "00008030-001A2B3C", "/mnt/phone", "/var/jb", 0},
        {"keys outside the section do not count",
         "Transport=folder\n[Other]\nFolder=/x\n[T-Pot]\n# Folder=/y\n", "usb", "", "", "", 0},
        {"later value wins", "[T-Pot]\nUDID=abc\nUDID=def\n", "usb", "def", "", "", 0},
        {"UDID with odd characters", "[T-Pot]\nUDID=../../x\n", "usb", "", "", "", 1},
        {"relative folder", "[T-Pot]\nFolder=phone\n", "usb", "", "", "", 1},
        {"prefix leaving the root", "[T-Pot]\nRootPrefix=/var/../..\n", "usb", "", "", "", 1},
        {"relative prefix", "[T-Pot]\nRootPrefix=var/jb\n", "usb", "", "", "", 1},
        {"prefix of only slashes", "[T-Pot]\nRootPrefix=//\n", "usb", "", "", "", 0},
        {"lines without '=' and an unclosed section", "[T-Pot\nnonsense\nUDID=ab\n", "usb", "ab",
         "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> warnings;
        const tpot::TSettings s = tpot::ParseSettings(c.Text, warnings);
        EXPECT_EQ(s.Transport, c.Transport);
        EXPECT_EQ(s.Udid, c.Udid);
        EXPECT_EQ(s.Folder, c.Folder);
        EXPECT_EQ(s.RootPrefix, c.Prefix);
        EXPECT_EQ(warnings.size(), c.Warnings);
    }
    // Keys of other transports stay readable.
    std::vector<std::string> warnings;
    EXPECT_EQ(tpot::ParseSettings("[T-Pot]\nHost = 10.0.0.2\n", warnings).Values["host"],
              "10.0.0.2");
}

TEST(PluginSettings, AnUnknownTransportFallsBackToUsbWithAWarning) {
    std::vector<std::string> warnings;
    tpot::TSettings s;
    s.Transport = "carrier-pigeon";
    EXPECT_NE(tpot::MakeTransport(s, warnings), nullptr);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("carrier-pigeon"), std::string::npos);
    EXPECT_EQ(tpot::TransportNames().front(), "usb");
}

TEST(PluginSettings, AMissingFileIsWrittenWithCommentedDefaultsAndAnExistingOneKept) {
    TTestFolder folder;
    const std::string path = folder / "T-Pot.ini";
    std::vector<std::string> warnings;
    EXPECT_EQ(tpot::LoadSettings(path, warnings).Transport, "usb");
    EXPECT_TRUE(warnings.empty());
    const std::string written = ReadFile(path);
    EXPECT_EQ(written, tpot::kDefaultSettingsText);
    const tpot::TSettings parsed = tpot::ParseSettings(written, warnings); // gives the defaults
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(parsed.Transport + parsed.Udid + parsed.Folder + parsed.RootPrefix, "usb");
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"T-Pot.ini"});

    WriteFile(path, "[T-Pot]\nTransport=folder\n");
    EXPECT_EQ(tpot::LoadSettings(path, warnings).Transport, "folder");
    EXPECT_EQ(ReadFile(path), "[T-Pot]\nTransport=folder\n");
}

TEST(PluginSettings, AFileThatCannotBeCreatedGivesTheDefaultsAndAWarning) {
    TTestFolder folder;
    std::vector<std::string> warnings;
    EXPECT_EQ(tpot::LoadSettings(folder / "absent/T-Pot.ini", warnings).Transport, "usb");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cannot be created"), std::string::npos) << warnings[0];
    EXPECT_TRUE(NamesIn(folder.Path()).empty());
}

TEST(PhonePaths, AreNormalisedOrRefused) {
    const struct {
        std::string In;
        const char* Out; // nullptr: refused
    } cases[] = {
        {"/", "/"},
        {"//private///var/./lib/", "/private/var/lib"},
        {"/a b/ü", "/a b/ü"},
        {"", nullptr},
        {"relative/x", nullptr},
        {"/a/../b", nullptr},
        {"/..", nullptr},
        {"/a/...", "/a/..."},
        {"/a\\b", nullptr},
        {std::string("/a\0b", 4), nullptr},
    };
    for (const auto& c : cases) {
        const auto out = tpot::NormalisePhonePath(c.In);
        if (c.Out)
            EXPECT_EQ(out.value_or("<refused>"), c.Out) << c.In;
        else
            EXPECT_FALSE(out.has_value()) << c.In;
    }
}

} // namespace
