// A small, misbehaving SFTP server for the transport's tests, run by the test
// sshd as its sftp subsystem. It serves the real files it is asked for, but
// in the way its mode names:
//   short      - reads give at most 1000 bytes, and answers to requests that
//                arrive together go back in reverse order (both allowed);
//   oversized  - a read gives more bytes than were asked for;
//   hugepacket - the answer to a read claims a length of almost 4 GiB;
//   endless    - a folder listing never ends;
//   noeof      - reads give data up to 16 MiB whatever the file holds;
//   emptynames - a listing answers 100 times with no entry before its one entry.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::string gMode;

bool ReadAll(void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(STDIN_FILENO, p, size);
        if (got <= 0)
            return false;
        p += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void WriteAll(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (put <= 0)
            _exit(1);
        done += static_cast<std::size_t>(put);
    }
}

void Put32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(v >> shift);
}

void PutString(std::string& out, const std::string& s) {
    Put32(out, static_cast<uint32_t>(s.size()));
    out += s;
}

std::string Packet(uint8_t type, const std::string& body) {
    std::string out;
    Put32(out, static_cast<uint32_t>(body.size() + 1));
    out += static_cast<char>(type);
    return out + body;
}

struct TIn {
    std::string Data;
    std::size_t Pos = 0;
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4 && Pos < Data.size(); ++i)
            v = (v << 8) | static_cast<unsigned char>(Data[Pos++]);
        return v;
    }
    uint64_t U64() {
        const uint64_t high = U32();
        return (high << 32) | U32();
    }
    std::string String() {
        const uint32_t size = U32();
        std::string s = Data.substr(Pos, size);
        Pos += size;
        return s;
    }
};

std::string Status(uint32_t id, uint32_t code) {
    std::string body;
    Put32(body, id);
    Put32(body, code);
    PutString(body, code == 0 ? "ok" : "failed");
    PutString(body, "");
    return Packet(101, body);
}

std::string Handle(uint32_t id, int fd) {
    std::string body;
    Put32(body, id);
    PutString(body, std::to_string(fd));
    return Packet(102, body);
}

std::string Answer(uint8_t type, TIn& in) {
    const uint32_t id = in.U32();
    switch (type) {
    case 7: { // lstat
        struct stat st {};
        if (::lstat(in.String().c_str(), &st) != 0)
            return Status(id, 2);
        std::string body;
        Put32(body, id);
        Put32(body, 0x1 | 0x4);
        Put32(body, static_cast<uint32_t>(static_cast<uint64_t>(st.st_size) >> 32));
        Put32(body, static_cast<uint32_t>(st.st_size));
        Put32(body, st.st_mode);
        return Packet(105, body);
    }
    case 3: { // open, for reading only
        const int fd = ::open(in.String().c_str(), O_RDONLY);
        return fd < 0 ? Status(id, 2) : Handle(id, fd);
    }
    case 11: // opendir
        return Handle(id, 999);
    case 4: { // close
        const int fd = std::atoi(in.String().c_str());
        if (fd != 999)
            ::close(fd);
        return Status(id, 0);
    }
    case 12: { // readdir
        static int calls = 0;
        const int call = calls++;
        int count = 100;
        if (gMode == "emptynames")
            count = call < 100 ? 0 : 1;
        if (gMode != "endless" && call > (gMode == "emptynames" ? 100 : 0))
            return Status(id, 1);
        std::string body;
        Put32(body, id);
        Put32(body, static_cast<uint32_t>(count));
        for (int i = 0; i < count; ++i) {
            PutString(body, "entry" + std::to_string(i));
            PutString(body, "");
            Put32(body, 0);
        }
        return Packet(104, body);
    }
    case 5: { // read
        const int fd = std::atoi(in.String().c_str());
        const uint64_t offset = in.U64();
        uint32_t length = in.U32();
        if (gMode == "short")
            length = std::min<uint32_t>(length, 1000);
        std::vector<char> data(length, 'n');
        ssize_t got = static_cast<ssize_t>(length);
        if (gMode == "noeof")
            got = offset < 16 * 1024 * 1024 ? got : 0;
        else
            got = ::pread(fd, data.data(), length, static_cast<off_t>(offset));
        if (got <= 0)
            return Status(id, 1);
        std::string body;
        Put32(body, id);
        std::string bytes(data.data(), static_cast<std::size_t>(got));
        if (gMode == "oversized")
            bytes += std::string(5000, 'x');
        PutString(body, bytes);
        std::string packet = Packet(103, body);
        if (gMode == "hugepacket")
            packet.replace(0, 4, "\xff\xff\xff\xf0");
        return packet;
    }
    default:
        return Status(id, 8);
    }
}

bool Waiting() {
    pollfd in{STDIN_FILENO, POLLIN, 0};
    return ::poll(&in, 1, 0) > 0;
}

} // namespace

int main(int argc, char** argv) {
    gMode = argc > 1 ? argv[1] : "";
    for (;;) {
        // Every request that has arrived, answered in reverse order in "short" mode.
        std::vector<std::string> answers;
        do {
            unsigned char head[5];
            if (!ReadAll(head, sizeof head))
                return 0;
            const uint32_t length = (uint32_t{head[0]} << 24) | (uint32_t{head[1]} << 16) |
                                    (uint32_t{head[2]} << 8) | head[3];
            TIn in;
            in.Data.resize(length - 1);
            if (!ReadAll(in.Data.data(), in.Data.size()))
                return 0;
            if (head[4] == 1) { // init: version 3, no extensions
                std::string body;
                Put32(body, 3);
                WriteAll(Packet(2, body));
                continue;
            }
            answers.push_back(Answer(head[4], in));
        } while (gMode == "short" && Waiting());
        if (gMode == "short")
            for (auto it = answers.rbegin(); it != answers.rend(); ++it)
                WriteAll(*it);
        else
            for (const std::string& answer : answers)
                WriteAll(answer);
    }
}
