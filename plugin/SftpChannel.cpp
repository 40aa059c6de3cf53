#include "plugin/SftpChannel.h"

#include "plugin/SftpPacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string_view>
#include <utility>

namespace Tpot {

namespace {

// OpenSSH's server takes packets of up to 256 KiB; nothing larger is needed
// from any server, and a larger length is a broken or hostile peer.
constexpr std::size_t MaxPacket = 256 * 1024 + 1024;
// The largest block asked for in one read or write request.
constexpr uint32_t MaxBlock = 255 * 1024;

std::string DefaultMessage(uint32_t code) {
    switch (code) {
    case SftpEof:
        return "end of file";
    case SftpNoSuchFile:
        return "no such file";
    case SftpPermissionDenied:
        return "permission denied";
    default:
        return "the server refused (code " + std::to_string(code) + ")";
    }
}

} // namespace

TSftpChannel::TSftpChannel(TSftpLink& link, int stallMs) : link_(link), stallMs_(stallMs) {}

TSftpResult TSftpChannel::Fail(std::string message) {
    broken_ = true;
    return {TSftpResult::Broken, SftpFailure, std::move(message)};
}

TSftpResult TSftpChannel::Send(uint8_t type, const std::string& payload) {
    if (broken_)
        return Fail("the link is broken");
    std::string packet;
    packet.reserve(payload.size() + 5);
    SftpPut32(packet, static_cast<uint32_t>(payload.size() + 1));
    packet += static_cast<char>(type);
    packet += payload;
    if (std::string why; !link_.Send(packet.data(), packet.size(), why))
        return Fail("cannot send to the server: " + why);
    return {};
}

TSftpResult TSftpChannel::Receive(TReply& reply) {
    using TClock = std::chrono::steady_clock;
    if (broken_)
        return Fail("the link is broken");
    auto lastData = TClock::now();
    std::size_t need = 4;
    for (;;) {
        const std::size_t have = in_.size() - inPos_;
        if (have >= 4 && need == 4) {
            const auto* p = reinterpret_cast<const unsigned char*>(in_.data() + inPos_);
            const std::size_t length = (std::size_t{p[0]} << 24) | (std::size_t{p[1]} << 16) |
                                       (std::size_t{p[2]} << 8) | p[3];
            if (length < 5 || length > MaxPacket)
                return Fail("the server sent a packet of " + std::to_string(length) + " bytes");
            need = 4 + length;
        }
        if (have >= need && need > 4)
            break;
        if (inPos_ > 0) {
            in_.erase(0, inPos_);
            inPos_ = 0;
        }
        const std::size_t old = in_.size();
        in_.resize(old + std::max<std::size_t>(need - old, 64 * 1024));
        std::string why;
        const int got = link_.Receive(in_.data() + old, in_.size() - old, stallMs_, why);
        in_.resize(old + static_cast<std::size_t>(std::max(got, 0)));
        if (got < 0)
            return Fail("the link broke: " + why);
        if (got > 0) {
            lastData = TClock::now();
            continue;
        }
        if (!link_.IsOpen())
            return Fail("the server closed the connection");
        if (TClock::now() - lastData >= std::chrono::milliseconds(stallMs_))
            return Fail("the server did not answer for " + std::to_string(stallMs_ / 1000) + " s");
    }
    const char* packet = in_.data() + inPos_ + 4;
    reply.Type = static_cast<uint8_t>(packet[0]);
    TSftpFields id(std::string_view(packet + 1, 4));
    id.Get32(reply.Id);
    reply.Body.assign(packet + 5, need - 9);
    inPos_ += need;
    return {};
}

TSftpResult TSftpChannel::Call(uint8_t type, uint32_t id, const std::string& payload,
                               TReply& reply) {
    if (TSftpResult sent = Send(type, payload); !sent.IsOk())
        return sent;
    if (TSftpResult got = Receive(reply); !got.IsOk())
        return got;
    if (reply.Id != id)
        return Fail("the server answered a request it was not asked");
    return {};
}

TSftpResult TSftpChannel::CallForStatus(uint8_t type, uint32_t id, const std::string& payload) {
    TReply reply;
    if (TSftpResult called = Call(type, id, payload, reply); !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::StatusOf(const TReply& reply) {
    if (reply.Type != SftpAnswer::Status)
        return Fail("the server gave an answer of type " + std::to_string(reply.Type) +
                    " where a status belongs");
    TSftpFields fields(reply.Body);
    uint32_t code = 0;
    std::string_view message;
    if (!fields.Get32(code))
        return Fail("the server sent a status without a code");
    if (code == SftpOk)
        return {};
    // Old servers leave the text out; that is no reason to give up the link.
    if (!fields.GetString(message) || message.empty())
        return TSftpResult::Refusal(code, DefaultMessage(code));
    return TSftpResult::Refusal(code, SftpPrintable(message));
}

TSftpResult TSftpChannel::Drain(std::set<uint32_t>& pending) {
    while (!pending.empty()) {
        TReply reply;
        if (TSftpResult got = Receive(reply); !got.IsOk())
            return got;
        if (pending.erase(reply.Id) == 0)
            return Fail("the server answered a request it was not asked");
    }
    return {};
}

TSftpResult TSftpChannel::Start(int answerMs) {
    const int stall = std::exchange(stallMs_, answerMs);
    TSftpResult result = Handshake();
    stallMs_ = stall;
    return result;
}

TSftpResult TSftpChannel::Handshake() {
    if (std::string why; !link_.StartSubsystem(why))
        return Fail("the server offers no SFTP: " + why);
    std::string version;
    SftpPut32(version, 3);
    TReply reply;
    if (TSftpResult sent = Send(SftpRequest::Init, version); !sent.IsOk())
        return sent;
    if (TSftpResult got = Receive(reply); !got.IsOk())
        return got;
    // The version stands where other answers carry their request id.
    if (reply.Type != SftpAnswer::Version || reply.Id < 3)
        return Fail("the server does not speak SFTP version 3");
    TSftpExtensions extensions;
    if (!ParseSftpExtensions(reply.Body, extensions))
        return Fail("the server's list of extensions is malformed");
    atomicRename_ = extensions.AtomicRename;
    canSync_ = extensions.CanSync;
    hasLimits_ = extensions.HasLimits;
    ReadLimits();
    return broken_ ? Fail("the server's limits are malformed") : TSftpResult();
}

TSftpResult TSftpChannel::Extended(const std::string& name, const std::string& arguments,
                                   TReply& reply) {
    const uint32_t id = NextId();
    std::string payload;
    SftpPut32(payload, id);
    SftpPutString(payload, name);
    payload += arguments;
    return Call(SftpRequest::Extended, id, payload, reply);
}

void TSftpChannel::ReadLimits() {
    if (!hasLimits_)
        return;
    TReply reply;
    if (!Extended("limits@openssh.com", "", reply).IsOk() ||
        reply.Type != SftpAnswer::ExtendedReply)
        return;
    TSftpFields fields(reply.Body);
    uint64_t packet = 0;
    uint64_t read = 0;
    uint64_t write = 0;
    if (!fields.Get64(packet) || !fields.Get64(read) || !fields.Get64(write))
        return;
    // Zero means "no limit given"; the request and its header must fit a packet.
    const uint64_t packetRoom = packet > 1024 ? packet - 1024 : 0;
    const auto pick = [&](uint64_t limit) {
        uint64_t block = MaxBlock;
        if (limit != 0)
            block = std::min<uint64_t>(block, limit);
        if (packet != 0)
            block = std::min<uint64_t>(block, packetRoom);
        return static_cast<uint32_t>(std::max<uint64_t>(block, 4096));
    };
    readBlock_ = pick(read);
    writeBlock_ = pick(write);
}

bool TSftpChannel::LooksAlive() {
    return !broken_ && inPos_ == in_.size() && link_.IsQuiet();
}

TSftpResult TSftpChannel::Stat(const std::string& path, TSftpAttributes& attributes, bool follow) {
    const uint32_t id = NextId();
    TReply reply;
    if (TSftpResult called = Call(follow ? SftpRequest::StatFollowing : SftpRequest::Lstat, id,
                                  SftpRequestFor(id, path), reply);
        !called.IsOk())
        return called;
    if (reply.Type != SftpAnswer::Attrs)
        return StatusOf(reply);
    TSftpFields fields(reply.Body);
    if (!fields.GetAttributes(attributes))
        return Fail("the server sent malformed attributes");
    return {};
}

TSftpResult TSftpChannel::SetAttributes(const std::string& pathOrHandle, bool handle,
                                        const TSftpAttributes& attributes) {
    const uint32_t id = NextId();
    std::string payload = SftpRequestFor(id, pathOrHandle);
    SftpPutAttributes(payload, attributes);
    return CallForStatus(handle ? SftpRequest::FSetStat : SftpRequest::SetStat, id, payload);
}

TSftpResult TSftpChannel::MakeFolder(const std::string& path) {
    const uint32_t id = NextId();
    std::string payload = SftpRequestFor(id, path);
    SftpPut32(payload, 0); // no attributes: the server's umask decides
    return CallForStatus(SftpRequest::MakeDir, id, payload);
}

TSftpResult TSftpChannel::RemoveFolder(const std::string& path) {
    const uint32_t id = NextId();
    return CallForStatus(SftpRequest::RemoveDir, id, SftpRequestFor(id, path));
}

TSftpResult TSftpChannel::RealPath(const std::string& path, std::string& real) {
    const uint32_t id = NextId();
    TReply reply;
    if (TSftpResult called = Call(SftpRequest::RealPath, id, SftpRequestFor(id, path), reply);
        !called.IsOk())
        return called;
    if (reply.Type != SftpAnswer::Name)
        return StatusOf(reply);
    TSftpFields fields(reply.Body);
    uint32_t count = 0;
    std::string_view name;
    if (!fields.Get32(count) || count != 1 || !fields.GetString(name))
        return Fail("the server sent a malformed path");
    real = name;
    return {};
}

TSftpResult TSftpChannel::Open(const std::string& path, uint32_t flags, uint32_t mode,
                               std::string& handle) {
    const uint32_t id = NextId();
    std::string payload = SftpRequestFor(id, path);
    SftpPut32(payload, flags);
    if (flags & SftpCreate) {
        SftpPut32(payload, SftpAttrPermissions);
        SftpPut32(payload, mode);
    } else {
        SftpPut32(payload, 0);
    }
    return CallForHandle(SftpRequest::Open, id, payload, handle);
}

TSftpResult TSftpChannel::CallForHandle(uint8_t type, uint32_t id, const std::string& payload,
                                        std::string& handle) {
    TReply reply;
    if (TSftpResult called = Call(type, id, payload, reply); !called.IsOk())
        return called;
    if (reply.Type != SftpAnswer::Handle)
        return StatusOf(reply);
    TSftpFields fields(reply.Body);
    std::string_view given;
    if (!fields.GetString(given) || given.size() > 256)
        return Fail("the server sent a malformed handle");
    handle = given;
    return {};
}

TSftpResult TSftpChannel::Close(const std::string& handle) {
    const uint32_t id = NextId();
    return CallForStatus(SftpRequest::Close, id, SftpRequestFor(id, handle));
}

TSftpResult TSftpChannel::Sync(const std::string& handle) {
    if (!canSync_)
        return {};
    std::string arguments;
    SftpPutString(arguments, handle);
    TReply reply;
    if (TSftpResult called = Extended("fsync@openssh.com", arguments, reply); !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::Remove(const std::string& path) {
    const uint32_t id = NextId();
    return CallForStatus(SftpRequest::Remove, id, SftpRequestFor(id, path));
}

TSftpResult TSftpChannel::Rename(const std::string& from, const std::string& to) {
    const uint32_t id = NextId();
    std::string payload = SftpRequestFor(id, from);
    SftpPutString(payload, to);
    return CallForStatus(SftpRequest::Rename, id, payload);
}

TSftpResult TSftpChannel::RenameReplacing(const std::string& from, const std::string& to) {
    std::string arguments;
    SftpPutString(arguments, from);
    SftpPutString(arguments, to);
    TReply reply;
    if (TSftpResult called = Extended("posix-rename@openssh.com", arguments, reply); !called.IsOk())
        return called;
    return StatusOf(reply);
}

} // namespace Tpot
