#pragma once

// Byte sources, block sinks and the one decoding loop of the decompressors;
// used only inside FileTools.

#include "archive/FileTools.h"
#include "base/SafeFiles.h"

#include <QString>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

class QIODevice;

namespace FileTools {

// A bzip2 file decoded block by block on Workers threads; nothing when the
// file should rather go to the serial decoder (its layout is unusual, a block
// fails, it is too large to hold in memory, it has only one block, or fewer
// than two workers are asked for).
std::optional<TDecompressResult> UncompressBzip2InParallel(const QString& inFile,
                                                           const QString& outFile,
                                                           std::uint64_t maxOutput,
                                                           unsigned workers);

// How many bzip2 workers pay off now: the cores that other runnable work
// leaves idle (1 on a busy or single-core machine, where parallel decoding
// only adds contention).
unsigned Bzip2Workers();

// Allocation functions for libbz2's bz_stream (opaque unused). The tables of
// a decoder (3.6 MB for 900 kB blocks) are kept, a few of them, for the next
// stream, so that decoding file after file does not fault in fresh zeroed
// memory each time.
void* Bzip2Alloc(void* opaque, int items, int size);
void Bzip2Free(void* opaque, void* memory);

class TByteSource {
public:
    virtual ~TByteSource() = default;
    // Up to size bytes; 0 at the end, -1 on a read error.
    virtual std::int64_t Read(char* data, std::size_t size) = 0;
};

// A regular file read straight into the caller's buffer. The open never
// blocks (a FIFO fails at once) and anything but a regular file is refused.
class TFileSource final : public TByteSource {
public:
    TFileSource() = default;
    ~TFileSource() override;
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    bool Open(const QString& path);
    std::int64_t Read(char* data, std::size_t size) override;
    // Exactly size bytes at offset, or false.
    bool ReadAt(std::uint64_t offset, char* data, std::size_t size);
    // The file's status as it was opened.
    const struct stat& Info() const { return info_; }

private:
    int fd_ = -1;
    struct stat info_ {};
};

class TDeviceSource final : public TByteSource {
public:
    explicit TDeviceSource(QIODevice& device) : device_(device) {}
    std::int64_t Read(char* data, std::size_t size) override;

private:
    QIODevice& device_;
};

// Output in blocks the sink lends: Buffer gives one to fill (nullptr when the
// output has failed), Commit hands over its first used bytes.
class TBlockSink {
public:
    virtual ~TBlockSink() = default;
    virtual char* Buffer(std::size_t& size) = 0;
    virtual bool Commit(std::size_t used) = 0;
};

class TDeviceSink final : public TBlockSink {
public:
    TDeviceSink(QIODevice& device, std::size_t blockSize);
    char* Buffer(std::size_t& size) override;
    bool Commit(std::size_t used) override;

private:
    QIODevice& device_;
    std::vector<char> buffer_;
};

// Writes a file through SafeFiles::TAtomicFile. The writes stay on the
// decoding thread: a writer thread of its own measured no faster (writing to
// the page cache is a few per cent of decoding) and only adds hand-offs that
// a busy machine is slow to schedule.
class TAtomicFileSink final : public TBlockSink {
public:
    TAtomicFileSink(QString target, std::size_t blockSize);
    ~TAtomicFileSink() override;
    TAtomicFileSink(const TAtomicFileSink&) = delete;
    TAtomicFileSink& operator=(const TAtomicFileSink&) = delete;

    bool Open();
    char* Buffer(std::size_t& size) override;
    bool Commit(std::size_t used) override;
    // Replaces the target with what was written; false when anything failed.
    bool Finish();
    // Drops everything; the target stays as it was.
    void Abort();

private:
    SafeFiles::TAtomicFile file_;
    std::vector<char> block_;
    bool failed_ = false;
};

// Compressed input read in blocks of InputBlock bytes.
class TInput {
public:
    static constexpr std::size_t InputBlock = std::size_t(1) << 20;
    explicit TInput(TByteSource& source);

    // Reads the next block in place of what is left; false on a read error.
    bool Refill();
    // At least n bytes ahead unless the input ends first (those left are
    // moved to the front); false on a read error.
    bool Ahead(std::size_t n);
    void Skip(std::size_t n) {
        Pos += n;
        Left -= n;
    }
    // Takes no more than n bytes from here on.
    void Limit(std::uint64_t n);

    const char* Pos = nullptr;
    std::size_t Left = 0; // bytes at Pos
    bool Ended = false;   // the source has no more
    bool Any = false;     // a byte was ever read

private:
    TByteSource& source_;
    std::unique_ptr<char[]> buffer_;
    std::uint64_t unread_ = std::numeric_limits<std::uint64_t>::max(); // still to read
};

// The outcome of one call to a decoder.
struct TStep {
    enum TKind { More, StreamEnd, Failed } Kind = More;
    TDecompressStatus Status = TDecompressStatus::Ok;
    int Code = 0;
};

// One library's streaming decoder behind one shape.
class TDecoder {
public:
    virtual ~TDecoder() = default;
    // Readies the decoder for a stream (again for each stream when ReadsOn).
    virtual TStep Begin() = 0;
    // Consumes from in and produces into out, both advanced in place.
    virtual TStep Decode(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft,
                         bool inputEnded) = 0;
    // The input has ended and the last call gave nothing: StreamEnd when what
    // was decoded is complete, More when the decoder reports a cut itself on
    // the next call, else the failure.
    virtual TStep AtEnd() const = 0;
    // Whether another stream may follow a StreamEnd; it is decoded when the
    // next MagicLength bytes StartsStream, else the rest is ignored.
    virtual bool ReadsOn() const { return false; }
    virtual std::size_t MagicLength() const { return 0; }
    virtual bool StartsStream(const char*) const { return false; }
    // Whether an input of no bytes at all is a complete, empty output.
    virtual bool EmptyInputIsEmpty() const { return true; }
};

// Decodes in into out until the decoder's (last) stream ends. Output beyond
// maxOutput bytes fails (TooLarge). After a failure other than the output's
// own, what was decoded before it still goes to out.
TDecompressResult DecodeAll(TDecoder& decoder, TInput& in, TBlockSink& out,
                            std::uint64_t maxOutput);

} // namespace FileTools
