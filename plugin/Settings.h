#pragma once

// The plugin's own settings file, "T-Pot.ini" beside the plugin file.

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace Tpot {

struct TSettings {
    std::string Transport = "usb"; // lower case; checked by MakeTransport
    std::string Udid;              // usb: the phone to use; empty = the first one attached
    std::string Folder;            // folder: the local folder standing for the phone's root
    std::string RootPrefix;        // canonical phone path put before every path; "" = none
    // Every key of the plugin's section, lower-cased, with its value as written,
    // so that a transport with keys of its own can read them.
    std::map<std::string, std::string> Values;
};

// The section that holds the plugin's keys.
inline constexpr std::string_view SettingsSection = "T-Pot";

// What a missing settings file is created with: every key at its default,
// each with a comment saying what it does.
extern const char* const DefaultSettingsText;

// Reads INI text by the rule the program reads its own settings file with
// (common/IniLines.h): only the first section of the plugin's name counts, and
// in it the first key of each name. A value that makes no sense leaves the key
// at its default and adds a line to Warnings.
TSettings ParseSettings(std::string_view text, std::vector<std::string>& warnings);

// Reads the settings file Path. When it is missing, it is first created with
// DefaultSettingsText (an existing file is never replaced). A file that cannot
// be read gives the defaults and a line in Warnings.
TSettings LoadSettings(const std::string& path, std::vector<std::string>& warnings);

} // namespace Tpot
