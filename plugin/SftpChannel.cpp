#include "plugin/SftpChannel.h"

#include "plugin/SftpPacket.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <string_view>
#include <utility>

namespace Tpot {

namespace {

// Packet types of the protocol: what we ask, and what the server answers.
namespace Request {
constexpr uint8_t Init = 1;
constexpr uint8_t Open = 3;
constexpr uint8_t Close = 4;
constexpr uint8_t Read = 5;
constexpr uint8_t Write = 6;
constexpr uint8_t Lstat = 7;
constexpr uint8_t SetStat = 9;
constexpr uint8_t FSetStat = 10;
constexpr uint8_t OpenDir = 11;
constexpr uint8_t ReadDir = 12;
constexpr uint8_t Remove = 13;
constexpr uint8_t MakeDir = 14;
constexpr uint8_t RemoveDir = 15;
constexpr uint8_t RealPath = 16;
constexpr uint8_t StatFollowing = 17;
constexpr uint8_t Rename = 18;
constexpr uint8_t Extended = 200;
} // namespace Request
namespace Answer {
constexpr uint8_t Version = 2;
constexpr uint8_t Status = 101;
constexpr uint8_t Handle = 102;
constexpr uint8_t Data = 103;
constexpr uint8_t Name = 104;
constexpr uint8_t Attrs = 105;
constexpr uint8_t ExtendedReply = 201;
} // namespace Answer

// OpenSSH's server takes packets of up to 256 KiB; nothing larger is needed
// from any server, and a larger length is a broken or hostile peer.
constexpr std::size_t MaxPacket = 256 * 1024 + 1024;
// The largest block asked for in one read or write request.
constexpr uint32_t MaxBlock = 255 * 1024;
// Bytes in flight in one direction: enough to keep a fast link busy while the
// other side answers, small enough for the channel's flow control.
constexpr std::size_t InFlight = 4 * 1024 * 1024;
// A listing longer than this is not a phone folder but a peer that never ends it.
constexpr std::size_t MaxEntries = 100000;
// A server gives at least one entry per answer until the end; one that keeps
// answering with none would have us ask for ever.
constexpr int MaxEmptyRounds = 16;
// However the answers come, a listing ends within this time.
constexpr auto ListingTime = std::chrono::seconds(60);

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

std::string HandleRequest(uint32_t id, const std::string& handle) {
    std::string payload;
    SftpPut32(payload, id);
    SftpPutString(payload, handle);
    return payload;
}

std::string PathRequest(uint32_t id, const std::string& path) {
    return HandleRequest(id, path);
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
    using Clock = std::chrono::steady_clock;
    if (broken_)
        return Fail("the link is broken");
    auto lastData = Clock::now();
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
            lastData = Clock::now();
            continue;
        }
        if (!link_.IsOpen())
            return Fail("the server closed the connection");
        if (Clock::now() - lastData >= std::chrono::milliseconds(stallMs_))
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

TSftpResult TSftpChannel::StatusOf(const TReply& reply) {
    if (reply.Type != Answer::Status)
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
    if (TSftpResult sent = Send(Request::Init, version); !sent.IsOk())
        return sent;
    if (TSftpResult got = Receive(reply); !got.IsOk())
        return got;
    // The version stands where other answers carry their request id.
    if (reply.Type != Answer::Version || reply.Id < 3)
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
    return Call(Request::Extended, id, payload, reply);
}

void TSftpChannel::ReadLimits() {
    if (!hasLimits_)
        return;
    TReply reply;
    if (!Extended("limits@openssh.com", "", reply).IsOk() || reply.Type != Answer::ExtendedReply)
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
    if (TSftpResult called = Call(follow ? Request::StatFollowing : Request::Lstat, id,
                                  PathRequest(id, path), reply);
        !called.IsOk())
        return called;
    if (reply.Type != Answer::Attrs)
        return StatusOf(reply);
    TSftpFields fields(reply.Body);
    if (!fields.GetAttributes(attributes))
        return Fail("the server sent malformed attributes");
    return {};
}

TSftpResult TSftpChannel::SetAttributes(const std::string& pathOrHandle, bool handle,
                                        const TSftpAttributes& attributes) {
    const uint32_t id = NextId();
    std::string payload = PathRequest(id, pathOrHandle);
    SftpPutAttributes(payload, attributes);
    TReply reply;
    if (TSftpResult called =
            Call(handle ? Request::FSetStat : Request::SetStat, id, payload, reply);
        !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::MakeFolder(const std::string& path) {
    const uint32_t id = NextId();
    std::string payload = PathRequest(id, path);
    SftpPut32(payload, 0); // no attributes: the server's umask decides
    TReply reply;
    if (TSftpResult called = Call(Request::MakeDir, id, payload, reply); !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::RemoveFolder(const std::string& path) {
    const uint32_t id = NextId();
    TReply reply;
    if (TSftpResult called = Call(Request::RemoveDir, id, PathRequest(id, path), reply);
        !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::RealPath(const std::string& path, std::string& real) {
    const uint32_t id = NextId();
    TReply reply;
    if (TSftpResult called = Call(Request::RealPath, id, PathRequest(id, path), reply);
        !called.IsOk())
        return called;
    if (reply.Type != Answer::Name)
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
    std::string payload = PathRequest(id, path);
    SftpPut32(payload, flags);
    if (flags & SftpCreate) {
        SftpPut32(payload, SftpAttrPermissions);
        SftpPut32(payload, mode);
    } else {
        SftpPut32(payload, 0);
    }
    return CallForHandle(Request::Open, id, payload, handle);
}

TSftpResult TSftpChannel::CallForHandle(uint8_t type, uint32_t id, const std::string& payload,
                                        std::string& handle) {
    TReply reply;
    if (TSftpResult called = Call(type, id, payload, reply); !called.IsOk())
        return called;
    if (reply.Type != Answer::Handle)
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
    TReply reply;
    if (TSftpResult called = Call(Request::Close, id, HandleRequest(id, handle), reply);
        !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::List(const std::string& path, std::vector<TEntry>& entries) {
    entries.clear();
    std::string handle;
    {
        const uint32_t id = NextId();
        if (TSftpResult opened = CallForHandle(Request::OpenDir, id, PathRequest(id, path), handle);
            !opened.IsOk())
            return opened;
    }
    TSftpResult result;
    const auto deadline = std::chrono::steady_clock::now() + ListingTime;
    int emptyRounds = 0;
    for (;;) {
        const uint32_t id = NextId();
        TReply reply;
        if (TSftpResult called = Call(Request::ReadDir, id, HandleRequest(id, handle), reply);
            !called.IsOk()) {
            entries.clear(); // no half listing
            return called;
        }
        if (reply.Type != Answer::Name) {
            result = StatusOf(reply);
            if (result.Kind == TSftpResult::Refused && result.Code == SftpEof)
                result = TSftpResult();
            break;
        }
        const std::size_t before = entries.size();
        if (!ParseSftpNames(reply.Body, entries)) {
            entries.clear();
            return Fail("the server sent a malformed listing");
        }
        emptyRounds = entries.size() == before ? emptyRounds + 1 : 0;
        if (entries.size() > MaxEntries) {
            result = TSftpResult::Refusal(SftpFailure, "the folder lists more than " +
                                                           std::to_string(MaxEntries) + " entries");
            break;
        }
        if (emptyRounds > MaxEmptyRounds) {
            result = TSftpResult::Refusal(SftpFailure,
                                          "the server keeps answering the listing without entries");
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result =
                TSftpResult::Refusal(SftpFailure, "the listing did not end within " +
                                                      std::to_string(ListingTime.count()) + " s");
            break;
        }
    }
    if (TSftpResult closed = Close(handle); !closed.IsOk() && result.IsOk())
        result = closed;
    if (!result.IsOk())
        entries.clear();
    return result;
}

TSftpResult TSftpChannel::Read(const std::string& handle, uint64_t limit, const TSink& sink,
                               bool& stopped) {
    stopped = false;
    struct TPart {
        uint32_t Id = 0;
        uint64_t Offset = 0;
        uint32_t Length = 0;
        bool Answered = false;
        bool Eof = false;
        std::string Data;
        TSftpResult Error;
    };
    std::deque<TPart> parts;
    const auto ask = [&](uint64_t offset, uint32_t length, bool first) {
        TPart part;
        part.Id = NextId();
        part.Offset = offset;
        part.Length = length;
        std::string payload = HandleRequest(part.Id, handle);
        SftpPut64(payload, offset);
        SftpPut32(payload, length);
        TSftpResult sent = Send(Request::Read, payload);
        if (sent.IsOk()) {
            if (first)
                parts.push_front(std::move(part));
            else
                parts.push_back(std::move(part));
        }
        return sent;
    };
    const std::size_t depth = std::max<std::size_t>(4, InFlight / readBlock_);
    // One byte past the limit is asked for, so that a longer file shows.
    const uint64_t wanted = limit == UINT64_MAX ? limit : limit + 1;
    uint64_t next = 0;
    uint64_t total = 0;
    bool atEnd = false;
    TSftpResult result;
    while (result.IsOk() && !stopped) {
        while (!atEnd && parts.size() < depth && next < wanted) {
            const auto length =
                static_cast<uint32_t>(std::min<uint64_t>(readBlock_, wanted - next));
            if (TSftpResult sent = ask(next, length, false); !sent.IsOk())
                return sent;
            next += length;
        }
        if (parts.empty())
            break;
        while (!parts.front().Answered) {
            TReply reply;
            if (TSftpResult got = Receive(reply); !got.IsOk())
                return got;
            const auto part = std::find_if(parts.begin(), parts.end(),
                                           [&](const TPart& p) { return p.Id == reply.Id; });
            if (part == parts.end() || part->Answered)
                return Fail("the server answered a request it was not asked");
            part->Answered = true;
            if (reply.Type == Answer::Data) {
                TSftpFields fields(reply.Body);
                std::string_view data;
                // An empty answer that is not the end would have us ask forever.
                if (!fields.GetString(data) || data.size() > part->Length || data.empty())
                    return Fail("the server sent a malformed block of data");
                part->Data = data;
            } else if (TSftpResult status = StatusOf(reply); status.IsOk()) {
                return Fail("the server answered a read with no data");
            } else if (status.Kind == TSftpResult::Refused && status.Code == SftpEof) {
                part->Eof = true;
            } else if (status.Kind == TSftpResult::Broken) {
                return status;
            } else {
                part->Error = status;
            }
        }
        TPart part = std::move(parts.front());
        parts.pop_front();
        if (atEnd)
            continue; // asked before the end showed; nothing of it counts
        if (!part.Error.IsOk()) {
            result = part.Error;
        } else if (part.Eof) {
            atEnd = true;
        } else if ((total += part.Data.size()) > limit) {
            result = TSftpResult::Refusal(SftpFailure, TooLongReason(limit));
        } else if (!sink(part.Data.data(), part.Data.size())) {
            stopped = true;
        } else if (part.Data.size() < part.Length) {
            // A short block is not the end: ask for its rest before anything later.
            const auto got = static_cast<uint32_t>(part.Data.size());
            if (TSftpResult sent = ask(part.Offset + got, part.Length - got, true); !sent.IsOk())
                return sent;
        }
    }
    if (result.IsOk() && !stopped && !atEnd) // everything asked for came, and no end
        result = TSftpResult::Refusal(SftpFailure, TooLongReason(limit));
    std::set<uint32_t> pending;
    for (const TPart& part : parts) {
        if (!part.Answered)
            pending.insert(part.Id);
    }
    if (TSftpResult drained = Drain(pending); !drained.IsOk())
        return drained;
    return result;
}

TSftpResult TSftpChannel::Write(const std::string& handle, const TSource& source, bool& stopped) {
    stopped = false;
    const std::size_t depth = std::max<std::size_t>(4, InFlight / writeBlock_);
    const std::string head = [&] {
        std::string text;
        SftpPutString(text, handle);
        return text;
    }();
    std::vector<char> buffer(writeBlock_);
    std::set<uint32_t> pending;
    uint64_t offset = 0;
    bool atEnd = false;
    TSftpResult result;
    std::string payload;
    for (;;) {
        while (!atEnd && pending.size() < depth) {
            const std::ptrdiff_t got = source(buffer.data(), buffer.size());
            if (got <= 0 || static_cast<std::size_t>(got) > buffer.size()) {
                stopped = got != 0;
                atEnd = true;
                break;
            }
            const uint32_t id = NextId();
            payload.clear();
            SftpPut32(payload, id);
            payload += head;
            SftpPut64(payload, offset);
            SftpPutString(payload, std::string_view(buffer.data(), static_cast<std::size_t>(got)));
            if (TSftpResult sent = Send(Request::Write, payload); !sent.IsOk())
                return sent;
            pending.insert(id);
            offset += static_cast<uint64_t>(got);
        }
        if (pending.empty())
            break;
        TReply reply;
        if (TSftpResult got = Receive(reply); !got.IsOk())
            return got;
        if (pending.erase(reply.Id) == 0)
            return Fail("the server answered a request it was not asked");
        TSftpResult status = StatusOf(reply);
        if (status.Kind == TSftpResult::Broken)
            return status;
        if (!status.IsOk() && result.IsOk()) {
            result = status; // the rest is only waited for
            atEnd = true;
        }
    }
    return result;
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
    TReply reply;
    if (TSftpResult called = Call(Request::Remove, id, PathRequest(id, path), reply);
        !called.IsOk())
        return called;
    return StatusOf(reply);
}

TSftpResult TSftpChannel::Rename(const std::string& from, const std::string& to) {
    const uint32_t id = NextId();
    std::string payload = PathRequest(id, from);
    SftpPutString(payload, to);
    TReply reply;
    if (TSftpResult called = Call(Request::Rename, id, payload, reply); !called.IsOk())
        return called;
    return StatusOf(reply);
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
