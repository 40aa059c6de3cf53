// The plugin's settings file: parsing, bad values, and the file written with
// its defaults when missing.

#include "plugin/Settings.h"
#include "TestFolder.h"
#include "plugin/PhonePath.h"
#include "plugin/TransportFactory.h"
#include "support/IniReadCases.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

// The reading rule the program shares, on the same table as its reader.
TEST(PluginSettings, ReadsTheSharedTableAsTheProgramDoes) {
    for (const TIniReadCase& c : IniReadCases) {
        std::vector<std::string> warnings;
        const auto values = Tpot::ParseSettings(c.Text, warnings).Values;
        std::string key = c.Key;
        for (char& ch : key)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const auto found = values.find(key);
        EXPECT_EQ(found == values.end() ? "<none>" : found->second,
                  c.Expected ? c.Expected : "<none>")
            << c.Name;
    }
}

TEST(PluginSettings, BadValuesFallBackToTheDefaultsWithAWarning) {
    const struct {
        const char* Text;
        const char* Transport;
        const char* Udid;
        const char* Folder;
        const char* Prefix;
        std::size_t Warnings;
    } cases[] = {
        {"", "usb", "", "", "", 0},
        {Tpot::DefaultSettingsText, "usb", "", "", "", 0}, // the file written when missing
        {"[T-Pot]\ntransport = Folder\nudid=00008030-001A2B3C\nFOLDER=/mnt/phone\n"
         "RootPrefix=/var//jb/\n",
         "folder", "00008030-001A2B3C", "/mnt/phone", "/var/jb", 0},
        {"[T-Pot]\nUDID=../../x\n", "usb", "", "", "", 1},
        {"[T-Pot]\nFolder=phone\n", "usb", "", "", "", 1},
        {"[T-Pot]\nRootPrefix=/var/../..\n", "usb", "", "", "", 1},
        {"[T-Pot]\nRootPrefix=var/jb\n", "usb", "", "", "", 1},
        {"[T-Pot]\nRootPrefix=//\n", "usb", "", "", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        std::vector<std::string> warnings;
        const Tpot::TSettings s = Tpot::ParseSettings(c.Text, warnings);
        EXPECT_EQ(s.Transport, c.Transport);
        EXPECT_EQ(s.Udid, c.Udid);
        EXPECT_EQ(s.Folder, c.Folder);
        EXPECT_EQ(s.RootPrefix, c.Prefix);
        EXPECT_EQ(warnings.size(), c.Warnings);
    }
}

TEST(PluginSettings, AnUnknownTransportFallsBackToUsbWithAWarning) {
    std::vector<std::string> warnings;
    Tpot::TSettings s;
    s.Transport = "carrier-pigeon";
    EXPECT_NE(Tpot::MakeTransport(s, warnings), nullptr);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("carrier-pigeon"), std::string::npos);
    EXPECT_EQ(Tpot::TransportNames().front(), "usb");
}

TEST(PluginSettings, AMissingFileIsWrittenWithDefaultsAnExistingOneKeptAnUnmakeableOneSaid) {
    TTestFolder folder;
    const std::string path = folder / "T-Pot.ini";
    std::vector<std::string> warnings;
    EXPECT_EQ(Tpot::LoadSettings(path, warnings).Transport, "usb");
    EXPECT_TRUE(warnings.empty());
    // Its text is FolderPlugin's check, what it gives the table's above.
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"T-Pot.ini"});

    WriteFile(path, "[T-Pot]\nTransport=folder\n");
    EXPECT_EQ(Tpot::LoadSettings(path, warnings).Transport, "folder");
    EXPECT_EQ(ReadFile(path), "[T-Pot]\nTransport=folder\n");

    // One that cannot be created: the defaults, and a warning.
    warnings.clear();
    EXPECT_EQ(Tpot::LoadSettings(folder / "absent/T-Pot.ini", warnings).Transport, "usb");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("cannot be created"), std::string::npos) << warnings[0];
    EXPECT_EQ(NamesIn(folder.Path()), std::vector<std::string>{"T-Pot.ini"});
}

TEST(PhonePaths, AreNormalisedOrRefused) {
    const struct {
        std::string In;
        const char* Out; // nullptr: refused
    } cases[] = {
        {"/", "/"},
        {"//private///var/./lib/", "/private/var/lib"},
        {"/a b/ü", "/a b/ü"},
        // The plain refusals ("..", relative, "\\") are the entry points' test.
        {"/a/...", "/a/..."},
        {std::string("/a\0b", 4), nullptr},
    };
    for (const auto& c : cases) {
        const auto out = Tpot::NormalisePhonePath(c.In);
        if (c.Out)
            EXPECT_EQ(out.value_or("<refused>"), c.Out) << c.In;
        else
            EXPECT_FALSE(out.has_value()) << c.In;
    }
}

} // namespace
