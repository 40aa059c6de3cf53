#pragma once

#include "common/WfxApi.h"

#include <QString>

#include <string_view>

// The seven entry points of a bound phone plugin. Each is null when the
// library is not loaded or does not export that name.
struct TPluginEntries {
    tFsInit FsInit = nullptr;
    tFsFindFirst FsFindFirst = nullptr;
    tFsFindNext FsFindNext = nullptr;
    tFsFindClose FsFindClose = nullptr;
    tFsGetFile FsGetFile = nullptr;
    tFsPutFile FsPutFile = nullptr;
    tFsDeleteFile FsDeleteFile = nullptr;
};

// The loaded plugin library: loaded once by its full path, bound by name,
// released at shutdown. Nothing here is reported: a library that is missing,
// cannot be loaded or lacks a name simply leaves entries null, and the phone
// operations then fail when used.
class TPluginBinding {
public:
    // The plugin's file name in the working folder.
    static QString FileName() { return QStringLiteral("T-Pot.dll"); }

    TPluginBinding() = default;
    ~TPluginBinding() { Release(); }
    TPluginBinding(const TPluginBinding&) = delete;
    TPluginBinding& operator=(const TPluginBinding&) = delete;

    // Writes Bytes to Path when nothing at all is there (no file, folder or
    // link); an existing entry is never replaced, compared or read. The file
    // appears whole or not at all. False when nothing was written.
    static bool WriteIfMissing(const QString& path, std::string_view bytes);

    // Loads the library at Path (a full path, never searched for) and looks
    // up the entry points by name. Calls none of them. A second Bind first
    // releases the library bound before.
    void Bind(const QString& path);
    void Release();

    bool Loaded() const { return handle_ != nullptr; }
    const TPluginEntries& Entries() const { return entries_; }

private:
    void* handle_ = nullptr;
    TPluginEntries entries_;
};
