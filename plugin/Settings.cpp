#include "plugin/Settings.h"

#include "common/IniLines.h"
#include "plugin/LocalFile.h"
#include "plugin/PhonePath.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace Tpot {

const char* const DefaultSettingsText =
    "; Settings of the phone plugin T-Pot. Lines starting with ; are comments.\n"
    "[T-Pot]\n"
    "\n"
    "; How the phone is reached:\n"
    ";   usb    - a jailbroken phone on a USB cable, through its root file service\n"
    ";            com.apple.afc2 (the phone must be paired with this computer);\n"
    ";   folder - a local folder that stands for the phone's root, for example\n"
    ";            the phone mounted with sshfs;\n"
    ";   sftp   - the phone's OpenSSH server, over Wi-Fi or over USB through\n"
    ";            usbmuxd's port forwarding (iproxy 2222 22).\n"
    "Transport=usb\n"
    "\n"
    "; usb: the UDID of the phone to use when several are attached; empty takes\n"
    "; the first one.\n"
    "UDID=\n"
    "\n"
    "; folder: the full path of the local folder that stands for the phone's root.\n"
    "Folder=\n"
    "\n"
    "; sftp: the phone's address (127.0.0.1 with iproxy), its SSH port, the user,\n"
    "; and optionally a private key file without passphrase (default: the SSH\n"
    "; agent and ~/.ssh/id_*) and the known-hosts file, which must already hold\n"
    "; the phone's host key (default ~/.ssh/known_hosts). No password is used.\n"
    "Host=\n"
    "Port=22\n"
    "User=root\n"
    "KeyFile=\n"
    "KnownHosts=\n"
    "\n"
    "; Put before every phone path, for example /var/jb on rootless jailbreaks;\n"
    "; empty for none.\n"
    "RootPrefix=\n";

namespace {

// Large enough for any hand-written settings file.
constexpr std::size_t MaxSettingsSize = 64 * 1024;

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool IsUdid(std::string_view s) {
    if (s.size() > 64)
        return false;
    return std::all_of(s.begin(), s.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0 || c == '-'; });
}

} // namespace

TSettings ParseSettings(std::string_view text, std::vector<std::string>& warnings) {
    TSettings settings;
    // The first section of the plugin's name counts, and in it the first key
    // of each name, as the program reads its own settings file.
    IniLines::TReader reader(text);
    IniLines::TLine line;
    bool inSection = false;
    while (reader.Next(line)) {
        if (line.Kind == IniLines::TKind::Section) {
            if (inSection)
                break;
            inSection = IniLines::SameName(line.Name, SettingsSection);
        } else if (inSection && line.Kind == IniLines::TKind::Key) {
            settings.Values.emplace(Lower(line.Name), std::string(line.Value));
        }
    }

    const auto value = [&](const char* key) -> std::optional<std::string> {
        const auto found = settings.Values.find(key);
        if (found == settings.Values.end())
            return std::nullopt;
        return found->second;
    };
    if (const auto transport = value("transport"); transport && !transport->empty())
        settings.Transport = Lower(*transport);
    if (const auto udid = value("udid")) {
        if (IsUdid(*udid))
            settings.Udid = *udid;
        else
            warnings.push_back("UDID \"" + *udid + "\" is not a phone's UDID; it is ignored");
    }
    if (const auto folder = value("folder"); folder && !folder->empty()) {
        if (folder->front() == '/')
            settings.Folder = *folder;
        else
            warnings.push_back("Folder \"" + *folder + "\" is not a full path; it is ignored");
    }
    if (const auto prefix = value("rootprefix"); prefix && !prefix->empty()) {
        const auto canonical = NormalisePhonePath(*prefix);
        if (canonical)
            settings.RootPrefix = *canonical == "/" ? std::string() : *canonical;
        else
            warnings.push_back("RootPrefix \"" + *prefix +
                               "\" is not a full phone path without \"..\"; no prefix is used");
    }
    return settings;
}

TSettings LoadSettings(const std::string& path, std::vector<std::string>& warnings) {
    std::string text;
    bool notFound = false;
    std::string why;
    if (ReadSmallFile(path, MaxSettingsSize, text, notFound, why))
        return ParseSettings(text, warnings);
    if (!notFound) {
        warnings.push_back(path + ": cannot be read (" + why + "); the defaults are used");
        return TSettings();
    }
    TLocalAtomicFile file;
    const std::string defaults = DefaultSettingsText;
    if (!file.Open(path, why) || !file.Write(defaults.data(), defaults.size(), why) ||
        !file.Commit(why, /*noReplace=*/true)) {
        // Another process may have created it meanwhile: then that one counts.
        if (ReadSmallFile(path, MaxSettingsSize, text, notFound, why))
            return ParseSettings(text, warnings);
        warnings.push_back(path + ": cannot be created (" + why + "); the defaults are used");
    }
    return ParseSettings(defaults, warnings);
}

} // namespace Tpot
