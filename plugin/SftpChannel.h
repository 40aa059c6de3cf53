#pragma once

// The SFTP protocol (version 3, the one OpenSSH's server speaks) over one open
// SSH channel. Written on the channel directly rather than with libssh's own
// SFTP calls, because those wait without limit for a silent server, send one
// write at a time and cannot ask for the server's atomic rename extension.
//
// Everything the server sends is untrusted: lengths are checked before use and
// a malformed answer marks the channel broken instead of being guessed at.

#include "plugin/SftpPacket.h"
#include "plugin/Transport.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace Tpot {

// Status codes of the protocol that the transport tells apart.
inline constexpr uint32_t SftpOk = 0;
inline constexpr uint32_t SftpEof = 1;
inline constexpr uint32_t SftpNoSuchFile = 2;
inline constexpr uint32_t SftpPermissionDenied = 3;
inline constexpr uint32_t SftpFailure = 4;

// Flags of an open request.
inline constexpr uint32_t SftpRead = 0x01;
inline constexpr uint32_t SftpWrite = 0x02;
inline constexpr uint32_t SftpCreate = 0x08;
inline constexpr uint32_t SftpTruncate = 0x10;
inline constexpr uint32_t SftpExclusive = 0x20;

// The outcome of one request.
struct TSftpResult {
    enum TKind {
        Ok,
        Refused, // the server answered with an error status (Code, Message)
        Broken,  // the link or the protocol failed: the channel is no longer usable
    };
    TKind Kind = Ok;
    uint32_t Code = SftpOk;
    std::string Message;

    bool IsOk() const { return Kind == Ok; }
    static TSftpResult Refusal(uint32_t code, std::string message) {
        return {Refused, code, std::move(message)};
    }
};

// The byte stream to the server: an SSH session channel (SftpTransport.cpp),
// or bytes made up by a test or a fuzzer.
class TSftpLink {
public:
    virtual ~TSftpLink() = default;
    // Asks the server for its SFTP subsystem.
    virtual bool StartSubsystem(std::string& why) = 0;
    // Sends all of Data; false with the reason when it cannot.
    virtual bool Send(const char* data, std::size_t size, std::string& why) = 0;
    // Up to Size bytes, waiting at most Ms for the first: how many came, 0
    // when none came in that time, -1 with the reason when the link broke.
    virtual int Receive(char* buffer, std::size_t size, int ms, std::string& why) = 0;
    // False once the server has closed the channel or the connection.
    virtual bool IsOpen() = 0;
    // Without waiting: true when the link stands and the server has sent
    // nothing that was not asked for.
    virtual bool IsQuiet() = 0;
};

class TSftpChannel {
public:
    // Link: not yet asked for the subsystem; it stays owned by the caller.
    // StallMs: how long an answer may keep us waiting.
    TSftpChannel(TSftpLink& link, int stallMs);
    TSftpChannel(const TSftpChannel&) = delete;
    TSftpChannel& operator=(const TSftpChannel&) = delete;

    // Starts the subsystem and agrees on the version and the extensions,
    // waiting at most AnswerMs for each answer.
    TSftpResult Start(int answerMs);

    // True once a request failed in a way that leaves the channel unusable.
    bool IsBroken() const { return broken_; }
    // Without a round trip: false when the server has closed the channel or
    // the connection, or sent something nobody asked for.
    bool LooksAlive();

    // Describes Path itself (a link as a link), or with Follow what it leads to.
    TSftpResult Stat(const std::string& path, TSftpAttributes& attributes, bool follow = false);
    // Sets what Attributes has (permissions, times) on Path, or on an open
    // file when Handle is set.
    TSftpResult SetAttributes(const std::string& pathOrHandle, bool handle,
                              const TSftpAttributes& attributes);
    TSftpResult MakeFolder(const std::string& path);
    TSftpResult RemoveFolder(const std::string& path);
    // The server's canonical full path of Path, links followed.
    TSftpResult RealPath(const std::string& path, std::string& real);
    TSftpResult List(const std::string& path, std::vector<TEntry>& entries);
    TSftpResult Open(const std::string& path, uint32_t flags, uint32_t mode, std::string& handle);
    TSftpResult Close(const std::string& handle);
    // Streams the whole file into Sink; Stopped tells that the sink said stop.
    // Nothing past Limit + 1 bytes is asked for, and a file that gives more
    // than Limit bytes is refused.
    TSftpResult Read(const std::string& handle, uint64_t limit, const TSink& sink, bool& stopped);
    // Writes what Source gives from offset 0; Stopped tells that it said stop.
    TSftpResult Write(const std::string& handle, const TSource& source, bool& stopped);
    // Flushes the file to the server's disk when the server can do that.
    TSftpResult Sync(const std::string& handle);
    TSftpResult Remove(const std::string& path);
    // Plain rename: may refuse when To exists.
    TSftpResult Rename(const std::string& from, const std::string& to);
    // Rename that replaces To in one step; only when HasAtomicRename.
    TSftpResult RenameReplacing(const std::string& from, const std::string& to);
    bool HasAtomicRename() const { return atomicRename_; }

private:
    struct TReply {
        uint8_t Type = 0;
        uint32_t Id = 0;
        std::string Body; // after the type and the id
    };

    uint32_t NextId() { return ++lastId_; }
    TSftpResult Fail(std::string message);
    TSftpResult Send(uint8_t type, const std::string& payload);
    // The next packet from the server, whatever it answers.
    TSftpResult Receive(TReply& reply);
    // Sends a request and receives its answer, which must carry the same id.
    TSftpResult Call(uint8_t type, uint32_t id, const std::string& payload, TReply& reply);
    // Turns a status answer into a result; any other answer is a broken protocol.
    TSftpResult StatusOf(const TReply& reply);
    // A call whose answer is a status.
    TSftpResult CallForStatus(uint8_t type, uint32_t id, const std::string& payload);
    // A call whose answer is a handle (opening a file or a folder).
    TSftpResult CallForHandle(uint8_t type, uint32_t id, const std::string& payload,
                              std::string& handle);
    // Waits for the answers to every request still in flight, so that the
    // channel can serve the next operation.
    TSftpResult Drain(std::set<uint32_t>& pending);
    struct TReadPart;
    // Asks for Length bytes at Offset, the request put last in Parts or, for
    // the rest of a short block, first.
    TSftpResult AskRead(const std::string& handle, uint64_t offset, uint32_t length, bool first,
                        std::deque<TReadPart>& parts);
    // Takes answers in whatever order they come until the first of Parts has its own.
    TSftpResult AwaitOldest(std::deque<TReadPart>& parts);
    TSftpResult Handshake();
    TSftpResult Extended(const std::string& name, const std::string& arguments, TReply& reply);
    void ReadLimits();

    TSftpLink& link_;
    int stallMs_;
    bool broken_ = false;
    uint32_t lastId_ = 0;
    std::string in_; // bytes received and not yet taken
    std::size_t inPos_ = 0;
    bool atomicRename_ = false;
    bool canSync_ = false;
    bool hasLimits_ = false;
    uint32_t readBlock_ = 32 * 1024;
    uint32_t writeBlock_ = 32 * 1024;
};

} // namespace Tpot
