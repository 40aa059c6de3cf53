#pragma once

// How the plugin reaches the phone's files. The entry points (Plugin.h) only
// ever talk to one TTransport; each way of reaching the phone (USB, a local
// folder, ...) is one implementation, chosen by the settings file.
//
// Paths given to a transport are already checked and normalised by the caller:
// absolute, "/"-separated, no empty, "." or ".." segments, no "\" or NUL, every
// segment a plain file name, the root prefix already put in front. "/" is the
// root itself. A transport never sees a path that could leave the phone's root.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Tpot {

// One entry of a folder listing.
struct TEntry {
    std::string Name;  // a plain file name, never "." or ".."
    uint64_t Size = 0; // bytes; 0 for folders
    int64_t MTime = 0; // last change, seconds since 1970-01-01 UTC; 0 when unknown
    bool IsFolder = false;
    // A symbolic link: Size, MTime, Mode and IsFolder then describe what it
    // points at when that lies inside the phone's root, else the link itself.
    bool IsLink = false;
    uint32_t Mode = 0; // permission bits (07777 at most); 0 when unknown
};

// The outcome of one transport call. The entry points turn it into FS_FILE_*.
enum class TStatus {
    Ok,
    NotFound,     // the phone path (or the local file to send) does not exist
    ReadError,    // the source could not be read (phone side for reads, local side for writes)
    WriteError,   // the target could not be written
    Aborted,      // the sink or source asked to stop
    NotSupported, // the transport cannot do this
    Exists,       // the target is there and may not be replaced
};

// Receives the bytes of a file being read, in order. Returning false stops the
// transfer: the transport then answers TStatus::Aborted.
using TSink = std::function<bool(const char* data, std::size_t size)>;

// Supplies the bytes of a file being written: fills Buffer with up to Capacity
// bytes and returns how many, 0 at the end of the file, or -1 to stop (a local
// read error or the user; the transport then answers TStatus::Aborted and leaves
// the target as it was).
using TSource = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

// The reason given when a read passes its limit.
inline std::string TooLongReason(uint64_t limit) {
    return "the phone gives more than " + std::to_string(limit) +
           " bytes for this file, more than the size it gave for it";
}

class TTransport {
public:
    virtual ~TTransport() = default;

    // Makes the link ready. Called before every operation, so it must be cheap
    // when the link is already up (check it, reconnect only when it broke).
    // On failure returns false and puts the reason into Why.
    virtual bool Connect(std::string& why) = 0;

    // The entries of the folder Path in the phone's order. Names may be passed
    // as the phone gives them: the caller leaves out (and reports) ".", ".."
    // and every name that is not a plain file name.
    virtual TStatus List(const std::string& path, std::vector<TEntry>& entries,
                         std::string& why) = 0;

    // Size, time and kind of Path (Entry.Name is the last segment).
    virtual TStatus Stat(const std::string& path, TEntry& entry, std::string& why) = 0;

    // Streams the file Path into Sink. A file that gives more than Limit bytes
    // (the size the phone gave for it, and room for growth) is not a file but
    // a peer that never ends it: the read stops there with TStatus::ReadError.
    virtual TStatus Read(const std::string& path, uint64_t limit, const TSink& sink,
                         std::string& why) = 0;

    // Writes the bytes of Source to the file Path, atomically: under a temporary
    // name in the same folder, then renamed over Path, so that a reader on the
    // phone sees either the old file or the whole new one. Replaces an existing
    // file; on any failure the old file stays and no temporary file is left.
    // The new file takes Like's permission bits and time where the phone can
    // keep them and Like knows them (Mode, MTime not 0); without a mode, an
    // existing file's stays.
    virtual TStatus Write(const std::string& path, const TEntry& like, const TSource& source,
                          std::string& why) = 0;

    // Removes the file Path (not a folder), or the link Path (never what it
    // points at).
    virtual TStatus Remove(const std::string& path, std::string& why) = 0;

    // Makes the folder Path; TStatus::Exists when something of that name is there.
    virtual TStatus MakeFolder(const std::string& path, std::string& why) = 0;
    // Removes the empty folder Path, or the link Path to a folder (never what
    // it points at). A folder that is not empty stays whole and is refused.
    virtual TStatus RemoveFolder(const std::string& path, std::string& why) = 0;
    // Gives the file or folder From the name To; an existing To is replaced
    // only when Replace is set (a folder never), else TStatus::Exists.
    virtual TStatus Rename(const std::string& from, const std::string& to, bool replace,
                           std::string& why) = 0;
    // Sets the modification time of Path, seconds since 1970.
    virtual TStatus SetTime(const std::string& path, int64_t mtime, std::string& why) = 0;
    // Where the link Path leads, as a phone path from the root; refused
    // (with the reason) when it leads outside the phone's root.
    virtual TStatus LinkTarget(const std::string& path, std::string& target, std::string& why) = 0;
    // Closes the link to the phone; the next call opens it again.
    virtual void Disconnect() = 0;
};

} // namespace Tpot

// The calls every transport implements, declared once for all of them in the
// public part of each class (Disconnect, which differs most, each writes itself).
#define TPOT_TRANSPORT_CALLS                                                                       \
    bool Connect(std::string& why) override;                                                       \
    TStatus List(const std::string& path, std::vector<TEntry>& entries, std::string& why)          \
        override;                                                                                  \
    TStatus Stat(const std::string& path, TEntry& entry, std::string& why) override;               \
    TStatus Read(const std::string& path, uint64_t limit, const TSink& sink, std::string& why)     \
        override;                                                                                  \
    TStatus Write(const std::string& path, const TEntry& like, const TSource& source,              \
                  std::string& why) override;                                                      \
    TStatus Remove(const std::string& path, std::string& why) override;                            \
    TStatus MakeFolder(const std::string& path, std::string& why) override;                        \
    TStatus RemoveFolder(const std::string& path, std::string& why) override;                      \
    TStatus Rename(const std::string& from, const std::string& to, bool replace, std::string& why) \
        override;                                                                                  \
    TStatus SetTime(const std::string& path, int64_t mtime, std::string& why) override;            \
    TStatus LinkTarget(const std::string& path, std::string& target, std::string& why) override;
