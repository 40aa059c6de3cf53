#include "archive/FileToolsIo.h"

#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace FileTools {

namespace {

// Freed libbz2 tables, for the next decoder that asks for the same size.
constexpr std::size_t KeptTableBytes = std::size_t(8) << 20;
constexpr std::size_t TableHeader = 16; // the size, in front of each block

struct TKeptTables {
    std::mutex Mutex;
    std::vector<std::pair<std::size_t, char*>> Blocks; // (size, block)
    std::size_t Bytes = 0;
    ~TKeptTables() {
        for (const auto& kept : Blocks)
            std::free(kept.second);
    }
};
TKeptTables keptTables;

} // namespace

void* Bzip2Alloc(void*, int items, int size) {
    if (items <= 0 || size <= 0)
        return nullptr;
    const std::size_t bytes = std::size_t(items) * std::size_t(size);
    {
        std::lock_guard lock(keptTables.Mutex);
        auto& blocks = keptTables.Blocks;
        for (auto it = blocks.begin(); it != blocks.end(); ++it)
            if (it->first == bytes) {
                char* block = it->second;
                keptTables.Bytes -= bytes;
                blocks.erase(it);
                return block + TableHeader;
            }
    }
    char* block = static_cast<char*>(std::malloc(bytes + TableHeader));
    if (!block)
        return nullptr;
    std::memcpy(block, &bytes, sizeof bytes);
    return block + TableHeader;
}

void Bzip2Free(void*, void* memory) {
    if (!memory)
        return;
    char* block = static_cast<char*>(memory) - TableHeader;
    std::size_t bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    {
        std::lock_guard lock(keptTables.Mutex);
        if (bytes >= (std::size_t(64) << 10) && keptTables.Bytes + bytes <= KeptTableBytes) {
            keptTables.Blocks.emplace_back(bytes, block);
            keptTables.Bytes += bytes;
            return;
        }
    }
    std::free(block);
}

TFileSource::~TFileSource() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool TFileSource::Open(const QString& path) {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    const QByteArray native = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    if (::fstat(fd, &info_) != 0 || !S_ISREG(info_.st_mode)) {
        ::close(fd);
        return false;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    fd_ = fd;
    return true;
}

std::int64_t TFileSource::Read(char* data, std::size_t size) {
    if (fd_ < 0)
        return -1;
    for (;;) {
        const ssize_t n = ::read(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool TFileSource::ReadAt(std::uint64_t offset, char* data, std::size_t size) {
    std::size_t done = 0;
    while (fd_ >= 0 && done < size) {
        const ssize_t n = ::pread(fd_, data + done, size - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return fd_ >= 0;
}

TInput::TInput(TByteSource& source) : source_(source), buffer_(new char[InputBlock]) {
    Pos = buffer_.get();
}

bool TInput::Refill() {
    Pos = buffer_.get();
    Left = 0;
    return Ahead(1);
}

bool TInput::Ahead(std::size_t n) {
    while (Left < n && !Ended) {
        std::memmove(buffer_.get(), Pos, Left);
        Pos = buffer_.get();
        const std::int64_t got =
            unread_ == 0 ? 0
                         : source_.Read(buffer_.get() + Left,
                                        std::min<std::uint64_t>(InputBlock - Left, unread_));
        if (got < 0)
            return false;
        if (got == 0)
            Ended = true;
        Left += std::size_t(got);
        unread_ -= std::uint64_t(got);
        Any = Any || got > 0;
    }
    return true;
}

void TInput::Limit(std::uint64_t n) {
    Left = std::size_t(std::min<std::uint64_t>(Left, n));
    unread_ = n - Left;
}

std::int64_t TDeviceSource::Read(char* data, std::size_t size) {
    return device_.read(data, qint64(size));
}

TDeviceSink::TDeviceSink(QIODevice& device, std::size_t blockSize)
    : device_(device), buffer_(blockSize) {}

char* TDeviceSink::Buffer(std::size_t& size) {
    size = buffer_.size();
    return buffer_.data();
}

bool TDeviceSink::Commit(std::size_t used) {
    return device_.write(buffer_.data(), qint64(used)) == qint64(used);
}

TAtomicFileSink::TAtomicFileSink(QString target, std::size_t blockSize)
    : file_(std::move(target)), block_(blockSize) {}

TAtomicFileSink::~TAtomicFileSink() {
    Abort();
}

bool TAtomicFileSink::Open() {
    // A decompressed file is a scratch file that is copied again when kept.
    file_.SkipFlush();
    return file_.Open();
}

char* TAtomicFileSink::Buffer(std::size_t& size) {
    if (failed_)
        return nullptr;
    size = block_.size();
    return block_.data();
}

bool TAtomicFileSink::Commit(std::size_t used) {
    if (failed_ || !file_.Write(block_.data(), used))
        failed_ = true;
    return !failed_;
}

bool TAtomicFileSink::Finish() {
    if (failed_ || !file_.Commit()) {
        Abort();
        return false;
    }
    return true;
}

void TAtomicFileSink::Abort() {
    failed_ = true;
    file_.Abort();
}

} // namespace FileTools
