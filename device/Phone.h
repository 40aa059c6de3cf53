#pragma once

#include "base/Outcome.h"
#include "base/PhoneFolders.h"
#include "device/PluginBinding.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The program's four operations on the phone, through the bound plugin.
//
// A transfer names both ends: the phone path and the local file. The local
// file is always one the caller chose (a stored package, a reference copy, a
// scratch name of the working folder), never one derived from a name that
// came from outside, so no remote name can select a local file.
//
// Each operation calls FsInit first and reports failure only through its
// result, with the reason: "телефон не подключён" without a plugin that has
// the entry points the operation needs or without a phone (with what the
// plugin said when FsInit fails), else what the plugin said of the failure
// (its last error message), else a plain one naming the phone file. A copy
// without a local file named fails before the plugin is asked.
//
// The plugin's calls run on a worker thread, one operation at a time and
// each whole (FsInit and what follows), while the calling thread keeps
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
    // Asks the copy in progress to stop at its next block, from any thread,
    // so that Stop or closing the window need not wait for a whole phone
    // copy (the plugin is given a progress procedure that answers "stop"
    // from then until the next operation starts).
    void Interrupt();

    bool Loaded() const;
    TPluginEntries Entries() const;
    const QString& WorkDir() const { return workDir_; }

    // Lists a phone folder (no trailing "/"). Success when listed: List then
    // holds every name in the plugin's order, unfiltered ("." and ".."
    // included). A failure with List empty when FsInit or the listing fails,
    // with List untouched when the plugin lacks an entry point.
    TOutcome iPhone_ls(const std::string& path, std::vector<std::string>& list);
    // Copies a phone file to LocalFile, replacing an older one.
    TOutcome iPhone_get(const std::string& remotePath, const QString& localFile);
    // Copies LocalFile to the phone, replacing the file there. LocalFile is
    // neither created nor removed.
    TOutcome iPhone_put(const QString& localFile, const std::string& remotePath);
    // Deletes a phone file.
    TOutcome iPhone_del(const std::string& remotePath);

private:
    // Runs Call on the worker, after FsInit, when Usable finds the entry
    // points it needs; the failures of both are the phone's not being there.
    TOutcome Operate(const std::function<bool(const TPluginEntries&)>& usable,
                     const std::function<TOutcome(const TPluginEntries&)>& call);

    mutable std::mutex mutex_; // held by the worker for the whole operation
    TPluginBinding binding_;
    QString workDir_;
};
