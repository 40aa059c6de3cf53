#pragma once

// The few calls of the phone's file service (AFC) that the USB transport
// makes, behind an interface so that the transport's logic can be run against
// an in-memory phone. Results and modes are the library's own values.

#include <libimobiledevice/afc.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Tpot {

class TAfc {
public:
    virtual ~TAfc() = default;
    // Every name in the folder, "." and ".." included, as the phone sends them.
    virtual afc_error_t ReadDirectory(const std::string& path, std::vector<std::string>& names) = 0;
    // The phone's key/value description of Path itself, a link not followed
    // ("st_size", "st_mtime" in nanoseconds, "st_ifmt" such as "S_IFDIR",
    // "S_IFREG" or "S_IFLNK", and for a link "LinkTarget").
    virtual afc_error_t GetFileInfo(const std::string& path,
                                    std::map<std::string, std::string>& info) = 0;
    virtual afc_error_t FileOpen(const std::string& path, afc_file_mode_t mode,
                                 uint64_t& handle) = 0;
    virtual afc_error_t FileRead(uint64_t handle, char* data, uint32_t length, uint32_t& read) = 0;
    virtual afc_error_t FileWrite(uint64_t handle, const char* data, uint32_t length,
                                  uint32_t& written) = 0;
    virtual afc_error_t FileClose(uint64_t handle) = 0;
    // Replaces an existing To, as rename(2) on the phone does.
    virtual afc_error_t Rename(const std::string& from, const std::string& to) = 0;
    virtual afc_error_t Remove(const std::string& path) = 0;
    virtual afc_error_t MakeDirectory(const std::string& path) = 0;
    // Sets the modification time of Path, in nanoseconds since 1970.
    virtual afc_error_t SetFileTime(const std::string& path, uint64_t nanoseconds) = 0;
};

// Opens a connection to the phone's root file service.
class TAfcConnector {
public:
    virtual ~TAfcConnector() = default;
    // The connection, or null with the reason in Why (no phone, not paired,
    // no root file service).
    virtual std::unique_ptr<TAfc> Connect(std::string& why) = 0;
};

} // namespace Tpot
