#pragma once

// The fields of SFTP packets: building requests and reading answers. Answers
// come from the server and are untrusted: every read checks the length left
// before it takes anything, and a malformed answer is refused, not guessed at.

#include "plugin/Transport.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Tpot {

// Packet types of the protocol: what we ask, and what the server answers.
namespace SftpRequest {
inline constexpr uint8_t Init = 1;
inline constexpr uint8_t Open = 3;
inline constexpr uint8_t Close = 4;
inline constexpr uint8_t Read = 5;
inline constexpr uint8_t Write = 6;
inline constexpr uint8_t Lstat = 7;
inline constexpr uint8_t SetStat = 9;
inline constexpr uint8_t FSetStat = 10;
inline constexpr uint8_t OpenDir = 11;
inline constexpr uint8_t ReadDir = 12;
inline constexpr uint8_t Remove = 13;
inline constexpr uint8_t MakeDir = 14;
inline constexpr uint8_t RemoveDir = 15;
inline constexpr uint8_t RealPath = 16;
inline constexpr uint8_t StatFollowing = 17;
inline constexpr uint8_t Rename = 18;
inline constexpr uint8_t Extended = 200;
} // namespace SftpRequest
namespace SftpAnswer {
inline constexpr uint8_t Version = 2;
inline constexpr uint8_t Status = 101;
inline constexpr uint8_t Handle = 102;
inline constexpr uint8_t Data = 103;
inline constexpr uint8_t Name = 104;
inline constexpr uint8_t Attrs = 105;
inline constexpr uint8_t ExtendedReply = 201;
} // namespace SftpAnswer

// Attribute flags.
inline constexpr uint32_t SftpAttrSize = 0x1;
inline constexpr uint32_t SftpAttrUidGid = 0x2;
inline constexpr uint32_t SftpAttrPermissions = 0x4;
inline constexpr uint32_t SftpAttrTimes = 0x8;
inline constexpr uint32_t SftpAttrExtended = 0x80000000u;

struct TSftpAttributes {
    bool HasSize = false;
    uint64_t Size = 0;
    bool HasPermissions = false;
    uint32_t Permissions = 0; // POSIX mode bits including the file type
    bool HasMTime = false;
    uint32_t MTime = 0;
    uint32_t ATime = 0; // given with MTime

    bool IsFolder() const { return HasPermissions && (Permissions & 0170000) == 0040000; }
    bool IsLink() const { return HasPermissions && (Permissions & 0170000) == 0120000; }
    bool IsRegular() const { return !HasPermissions || (Permissions & 0170000) == 0100000; }
};

void SftpPut32(std::string& out, uint32_t value);
void SftpPut64(std::string& out, uint64_t value);
void SftpPutString(std::string& out, std::string_view text);
// The start of most requests: the request id and one path or handle.
std::string SftpRequestFor(uint32_t id, std::string_view pathOrHandle);
// The permissions and times that Attributes has, as a request carries them.
void SftpPutAttributes(std::string& out, const TSftpAttributes& attributes);

// Reads the fields of an answer in order; every read fails instead of running
// past the end.
class TSftpFields {
public:
    explicit TSftpFields(std::string_view data) : data_(data) {}

    bool Get32(uint32_t& value) {
        if (data_.size() < 4)
            return false;
        const auto* p = reinterpret_cast<const unsigned char*>(data_.data());
        value = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        data_.remove_prefix(4);
        return true;
    }
    bool Get64(uint64_t& value) {
        uint32_t high = 0;
        uint32_t low = 0;
        if (!Get32(high) || !Get32(low))
            return false;
        value = (uint64_t{high} << 32) | low;
        return true;
    }
    bool GetString(std::string_view& text) {
        uint32_t size = 0;
        if (!Get32(size) || size > data_.size())
            return false;
        text = data_.substr(0, size);
        data_.remove_prefix(size);
        return true;
    }
    bool GetAttributes(TSftpAttributes& attributes) {
        uint32_t flags = 0;
        if (!Get32(flags))
            return false;
        attributes = TSftpAttributes();
        uint32_t ignored = 0;
        if ((flags & SftpAttrSize) && !(attributes.HasSize = Get64(attributes.Size)))
            return false;
        if ((flags & SftpAttrUidGid) && !(Get32(ignored) && Get32(ignored)))
            return false;
        if ((flags & SftpAttrPermissions) &&
            !(attributes.HasPermissions = Get32(attributes.Permissions)))
            return false;
        if ((flags & SftpAttrTimes) &&
            !(Get32(attributes.ATime) && (attributes.HasMTime = Get32(attributes.MTime))))
            return false;
        if (flags & SftpAttrExtended) {
            uint32_t count = 0;
            std::string_view skipped;
            if (!Get32(count))
                return false;
            for (uint32_t i = 0; i < count; ++i) {
                if (!GetString(skipped) || !GetString(skipped))
                    return false;
            }
        }
        return true;
    }
    bool Empty() const { return data_.empty(); }

private:
    std::string_view data_;
};

// The extensions the server names in its version answer that we use.
struct TSftpExtensions {
    bool AtomicRename = false; // posix-rename@openssh.com
    bool CanSync = false;      // fsync@openssh.com
    bool HasLimits = false;    // limits@openssh.com
};
bool ParseSftpExtensions(std::string_view body, TSftpExtensions& extensions);

// Appends the entries of a name answer (one part of a listing) to Entries.
bool ParseSftpNames(std::string_view body, std::vector<TEntry>& entries);

// A text of the server, cut to one short line of printable characters.
std::string SftpPrintable(std::string_view text);

} // namespace Tpot
