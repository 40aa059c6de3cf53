// The SFTP channel's streaming requests: a folder listing in parts, and the
// reads and writes of whole files with many requests in flight at once.

#include "plugin/SftpChannel.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <set>
#include <string_view>
#include <utility>

namespace Tpot {

namespace {

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

} // namespace

TSftpResult TSftpChannel::List(const std::string& path, std::vector<TEntry>& entries) {
    entries.clear();
    std::string handle;
    {
        const uint32_t id = NextId();
        if (TSftpResult opened =
                CallForHandle(SftpRequest::OpenDir, id, SftpRequestFor(id, path), handle);
            !opened.IsOk())
            return opened;
    }
    TSftpResult result;
    const auto deadline = std::chrono::steady_clock::now() + ListingTime;
    int emptyRounds = 0;
    for (;;) {
        const uint32_t id = NextId();
        TReply reply;
        if (TSftpResult called = Call(SftpRequest::ReadDir, id, SftpRequestFor(id, handle), reply);
            !called.IsOk()) {
            entries.clear(); // no half listing
            return called;
        }
        if (reply.Type != SftpAnswer::Name) {
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

// One read request in flight, and what came back for it.
struct TSftpChannel::TReadPart {
    uint32_t Id = 0;
    uint64_t Offset = 0;
    uint32_t Length = 0;
    bool Answered = false;
    bool Eof = false;
    std::string Data;
    TSftpResult Error;
};

TSftpResult TSftpChannel::AskRead(const std::string& handle, uint64_t offset, uint32_t length,
                                  bool first, std::deque<TReadPart>& parts) {
    TReadPart part;
    part.Id = NextId();
    part.Offset = offset;
    part.Length = length;
    std::string payload = SftpRequestFor(part.Id, handle);
    SftpPut64(payload, offset);
    SftpPut32(payload, length);
    TSftpResult sent = Send(SftpRequest::Read, payload);
    if (sent.IsOk()) {
        if (first)
            parts.push_front(std::move(part));
        else
            parts.push_back(std::move(part));
    }
    return sent;
}

TSftpResult TSftpChannel::AwaitOldest(std::deque<TReadPart>& parts) {
    while (!parts.front().Answered) {
        TReply reply;
        if (TSftpResult got = Receive(reply); !got.IsOk())
            return got;
        const auto part = std::find_if(parts.begin(), parts.end(),
                                       [&](const TReadPart& p) { return p.Id == reply.Id; });
        if (part == parts.end() || part->Answered)
            return Fail("the server answered a request it was not asked");
        part->Answered = true;
        if (reply.Type == SftpAnswer::Data) {
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
    return {};
}

TSftpResult TSftpChannel::Read(const std::string& handle, uint64_t limit, const TSink& sink,
                               bool& stopped) {
    stopped = false;
    std::deque<TReadPart> parts;
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
            if (TSftpResult sent = AskRead(handle, next, length, false, parts); !sent.IsOk())
                return sent;
            next += length;
        }
        if (parts.empty())
            break;
        if (TSftpResult answered = AwaitOldest(parts); !answered.IsOk())
            return answered;
        TReadPart part = std::move(parts.front());
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
            if (TSftpResult sent =
                    AskRead(handle, part.Offset + got, part.Length - got, true, parts);
                !sent.IsOk())
                return sent;
        }
    }
    if (result.IsOk() && !stopped && !atEnd) // everything asked for came, and no end
        result = TSftpResult::Refusal(SftpFailure, TooLongReason(limit));
    std::set<uint32_t> pending;
    for (const TReadPart& part : parts) {
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
            if (TSftpResult sent = Send(SftpRequest::Write, payload); !sent.IsOk())
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

} // namespace Tpot
