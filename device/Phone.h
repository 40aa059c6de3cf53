#pragma once

#include "device/PluginBinding.h"

#include <QString>

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Cydia's three folders on the phone. A file in one of them is named by the
// folder, "/" and the file name.
namespace PhoneFolders {
inline constexpr char Lists[] = "/private/var/lib/apt/lists";
inline constexpr char Cache[] = "/private/var/cache/apt/archives";
inline constexpr char AutoInstall[] = "/private/var/root/Media/Cydia/AutoInstall";

// Folder + "/" + Name, as the plugin is given it.
std::string File(std::string_view folder, std::string_view name);
} // namespace PhoneFolders

// The program's four operations on the phone, through the bound plugin.
//
// Every transfer passes through a staged file: a file directly in the working
// folder bearing the remote file's name (StagedPath). iPhone_get leaves it for
// the caller to move and delete; iPhone_put sends the one the caller placed
// there and neither creates nor removes it.
//
// Each operation calls FsInit first and reports failure only through its
// result. The plugin's calls run on a worker thread, one operation at a time
// and each whole (FsInit and what follows), while the calling thread keeps
// handling its events; an operation started from inside such a wait runs
// after the one in progress. Call them from the window's thread only.
class TPhone {
public:
    // A listing longer than this is cut off, so a plugin that never ends its
    // listing cannot hang the program.
    static constexpr std::size_t MaxListing = 1000000;

    TPhone() = default;
    ~TPhone();
    TPhone(const TPhone&) = delete;
    TPhone& operator=(const TPhone&) = delete;

    // Start-up: when WorkDir + "T-Pot.dll" does not exist, writes Carried
    // there (an existing file is never replaced), then loads that file and
    // binds its entry points. Nothing is reported.
    void Bind(const QString& workDir, std::string_view carried);
    // Shutdown: unloads the plugin, after any operation in progress.
    void Release();

    bool Loaded() const;
    TPluginEntries Entries() const;
    const QString& WorkDir() const { return workDir_; }

    // Lists a phone folder (no trailing "/"). True when listed: List then
    // holds every name in the plugin's order, unfiltered ("." and ".."
    // included). False with List empty when FsInit or the listing fails;
    // False with List untouched when the plugin lacks an entry point.
    bool iPhone_ls(const std::string& path, std::vector<std::string>& list);
    // Copies a phone file to its staged path, replacing an older one.
    bool iPhone_get(const std::string& remotePath);
    // Copies the staged file of RemotePath to the phone, replacing the file there.
    bool iPhone_put(const std::string& remotePath);
    // Deletes a phone file.
    bool iPhone_del(const std::string& remotePath);

    // The staged name of a remote path: the text after its last "/", "\" or
    // ":" (the whole path when it has none).
    static std::string StagedName(std::string_view remotePath);
    // WorkDir + the staged name; empty when the staged name could step out of
    // the working folder or cannot be a local file name ("", "..", bytes
    // that are not UTF-8): get and put then fail without calling the plugin.
    QString StagedPath(std::string_view remotePath) const;

private:
    mutable std::mutex mutex_; // held by the worker for the whole operation
    TPluginBinding binding_;
    QString workDir_;
};
