// Plays an SFTP server whose every byte comes from the fuzzer: the handshake,
// then one of the channel's loops (listing, reading, writing, the small
// requests) chosen by the first byte, over a link that hands the bytes over
// in pieces of the size the second byte gives. Whatever the server says, each
// loop must end, keep its bounds and never read past what it was given.
#include "plugin/SftpChannel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

class TFakeLink : public Tpot::TSftpLink {
public:
    TFakeLink(std::string_view stream, std::size_t piece) : Stream(stream), Piece(piece) {}

    bool StartSubsystem(std::string&) override { return true; }
    bool Send(const char*, std::size_t size, std::string& why) override {
        Sent += size;
        why = "the fake server takes no more";
        return Sent < 64 * 1024 * 1024;
    }
    int Receive(char* buffer, std::size_t size, int, std::string& why) override {
        if (Stream.empty()) {
            why = "the fuzzer's bytes are all used";
            return -1;
        }
        const std::size_t count = std::min({size, Stream.size(), Piece});
        std::memcpy(buffer, Stream.data(), count);
        Stream.remove_prefix(count);
        return static_cast<int>(count);
    }
    bool IsOpen() override { return !Stream.empty(); }
    bool IsQuiet() override { return true; }

private:
    std::string_view Stream;
    std::size_t Piece;
    std::size_t Sent = 0;
};

constexpr uint64_t ReadLimit = 1000;

void Run(Tpot::TSftpChannel& sftp, uint8_t op) {
    switch (op % 5) {
    case 0: {
        std::vector<Tpot::TEntry> entries;
        const Tpot::TSftpResult listed = sftp.List("/folder", entries);
        Check(listed.IsOk() || entries.empty());
        Check(entries.size() <= 100000);
        break;
    }
    case 1: {
        Tpot::TSftpAttributes attributes;
        sftp.Stat("/folder/file", attributes);
        std::string handle;
        if (sftp.Open("/folder/file", Tpot::SftpRead, 0, handle).IsOk())
            Check(handle.size() <= 256);
        break;
    }
    case 2: {
        uint64_t total = 0;
        bool stopped = false;
        const Tpot::TSftpResult read = sftp.Read(
            "h", ReadLimit,
            [&](const char*, std::size_t size) {
                total += size;
                return total < 900 || op < 128; // sometimes the user stops
            },
            stopped);
        Check(total <= ReadLimit);
        Check(!read.IsOk() || !stopped || total >= 900);
        break;
    }
    case 3: {
        int blocks = op % 7;
        bool stopped = false;
        sftp.Write(
            "h",
            [&](char* buffer, std::size_t capacity) -> std::ptrdiff_t {
                if (blocks-- <= 0)
                    return 0;
                const std::size_t size = std::min<std::size_t>(capacity, 100);
                std::memset(buffer, 'w', size);
                return static_cast<std::ptrdiff_t>(size);
            },
            stopped);
        break;
    }
    default:
        sftp.Remove("/folder/file");
        sftp.Rename("/folder/a", "/folder/b");
        if (sftp.HasAtomicRename())
            sftp.RenameReplacing("/folder/a", "/folder/b");
        sftp.Sync("h");
        sftp.Close("h");
        sftp.MakeFolder("/folder/new");
        sftp.RemoveFolder("/folder/new");
        {
            Tpot::TSftpAttributes times;
            times.HasMTime = true;
            times.MTime = 1700000000;
            sftp.SetAttributes("h", true, times);
            sftp.Stat("/folder/link", times, true);
            std::string real;
            if (sftp.RealPath("/folder/link", real).IsOk())
                Check(real.size() < 300 * 1024);
        }
        sftp.LooksAlive();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const uint8_t op = data[0];
    const std::size_t piece = data[1] == 0 ? 1 : data[1];
    TFakeLink link(std::string_view(reinterpret_cast<const char*>(data + 2), size - 2), piece);
    Tpot::TSftpChannel sftp(link, 0);
    if (!sftp.Start(0).IsOk()) {
        Check(sftp.IsBroken());
        return 0;
    }
    Run(sftp, op);
    return 0;
}
