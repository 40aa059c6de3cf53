#include "plugin/SftpPacket.h"

namespace Tpot {

namespace {

// Server texts are shown in one line; a longer one is cut.
constexpr std::size_t MaxMessage = 200;

} // namespace

void SftpPut32(std::string& out, uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    out.append(bytes, 4);
}

std::string SftpRequestFor(uint32_t id, std::string_view pathOrHandle) {
    std::string payload;
    SftpPut32(payload, id);
    SftpPutString(payload, pathOrHandle);
    return payload;
}

void SftpPut64(std::string& out, uint64_t value) {
    SftpPut32(out, static_cast<uint32_t>(value >> 32));
    SftpPut32(out, static_cast<uint32_t>(value));
}

void SftpPutString(std::string& out, std::string_view text) {
    SftpPut32(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}

std::string SftpPrintable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, MaxMessage))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
    return out;
}

void SftpPutAttributes(std::string& out, const TSftpAttributes& attributes) {
    SftpPut32(out, (attributes.HasPermissions ? SftpAttrPermissions : 0) |
                       (attributes.HasMTime ? SftpAttrTimes : 0));
    if (attributes.HasPermissions)
        SftpPut32(out, attributes.Permissions);
    if (attributes.HasMTime) {
        SftpPut32(out, attributes.ATime);
        SftpPut32(out, attributes.MTime);
    }
}

bool ParseSftpExtensions(std::string_view body, TSftpExtensions& extensions) {
    TSftpFields fields(body);
    extensions = TSftpExtensions();
    while (!fields.Empty()) {
        std::string_view name;
        std::string_view data;
        if (!fields.GetString(name) || !fields.GetString(data))
            return false;
        extensions.AtomicRename = extensions.AtomicRename || name == "posix-rename@openssh.com";
        extensions.CanSync = extensions.CanSync || name == "fsync@openssh.com";
        extensions.HasLimits = extensions.HasLimits || name == "limits@openssh.com";
    }
    return true;
}

bool ParseSftpNames(std::string_view body, std::vector<TEntry>& entries) {
    TSftpFields fields(body);
    uint32_t count = 0;
    if (!fields.Get32(count))
        return false;
    // Each entry takes at least 12 bytes, so a made-up count ends early.
    for (uint32_t i = 0; i < count; ++i) {
        std::string_view name;
        std::string_view longName;
        TSftpAttributes attributes;
        if (!fields.GetString(name) || !fields.GetString(longName) ||
            !fields.GetAttributes(attributes))
            return false;
        TEntry entry;
        entry.Name = name;
        entry.IsFolder = attributes.IsFolder();
        entry.Size = entry.IsFolder ? 0 : attributes.Size;
        entry.MTime = attributes.MTime;
        entry.IsLink = attributes.IsLink();
        entry.Mode = attributes.HasPermissions ? attributes.Permissions & 07777 : 0;
        entries.push_back(std::move(entry));
    }
    return true;
}

} // namespace Tpot
