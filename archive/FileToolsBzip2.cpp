// bzip2 files decompressed on all cores.
//
// A bzip2 stream is a row of independent blocks, each beginning with a 48-bit
// marker at any bit position and carrying its own CRC. Each block is cut out,
// wrapped as a stream of its own (its stream's header, the block's bits, end
// marker, the block CRC as the stream CRC) and decoded by libbz2 on a worker;
// the blocks are written out in order. libbz2 checks every block's CRC, and
// the streams' combined CRCs are checked here, so the result is the serial
// decoder's. A
// marker pattern may also occur by chance inside compressed data; then a block
// fails to decode, and so does anything else unusual: the caller falls back to
// the serial decoder, which gives the exact result for such a file.

#include "archive/FileTools.h"
#include "archive/FileToolsIo.h"
#include "base/Workers.h"

#include <bzlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace FileTools {

namespace {

constexpr std::uint64_t BlockMagic = 0x314159265359;
constexpr std::uint64_t EndMagic = 0x177245385090;
constexpr std::uint64_t Mask48 = (std::uint64_t(1) << 48) - 1;
// Larger compressed files go to the serial decoder, which needs no copy in
// memory (real indexes are a few MB compressed).
constexpr std::uint64_t MaxInMemory = std::uint64_t(32) << 20;
// No real block is shorter than this many bytes compressed; a file of marker
// patterns claiming more blocks is left to the serial decoder.
constexpr std::uint64_t MinBlockBytes = 32;
// The most one block may decode to here. A block of 900 kB can expand to
// some 46 MB (runs of the first RLE stage), but text blocks stay near 1 MB;
// with up to two blocks per worker in memory, blocks of long runs (an archive
// of zeros made to fill memory) would hold hundreds of MB, so a block that
// reaches this size sends the file to the serial decoder, which holds none.
constexpr std::size_t MaxBlockOutput = std::size_t(4) << 20;

struct TBlock {
    std::uint64_t Start = 0, End = 0; // bit range, from the block marker to the next marker
    std::uint32_t Crc = 0;
    char Level = '9'; // its stream's block-size digit: a block larger than it allows is corrupt
};

class TBits {
public:
    explicit TBits(const std::vector<unsigned char>& bytes) : b_(bytes) {}
    std::uint64_t Size() const { return std::uint64_t(b_.size()) * 8; }
    // The byte at bit position pos (bits past the end read as 0).
    unsigned char ByteAt(std::uint64_t pos) const {
        const std::size_t i = std::size_t(pos >> 3);
        const unsigned shift = unsigned(pos & 7);
        const unsigned hi = i < b_.size() ? b_[i] : 0;
        const unsigned lo = i + 1 < b_.size() ? b_[i + 1] : 0;
        return static_cast<unsigned char>(((hi << 8 | lo) >> (8 - shift)) & 0xFF);
    }
    std::uint64_t Read(std::uint64_t pos, unsigned count) const {
        std::uint64_t v = 0;
        for (unsigned k = 0; k < count; ++k) {
            const std::uint64_t p = pos + k;
            v = v << 1 | ((b_[std::size_t(p >> 3)] >> (7 - (p & 7))) & 1);
        }
        return v;
    }
    // The next block or end marker at or after pos; Size() when there is none.
    std::uint64_t FindMarker(std::uint64_t pos, bool& isEnd) const {
        const std::size_t n = b_.size();
        std::size_t i = std::size_t(pos >> 3);
        unsigned firstShift = unsigned(pos & 7);
        for (; i + 8 <= n; ++i, firstShift = 0) {
            std::uint64_t w = 0;
            for (int k = 0; k < 8; ++k)
                w = w << 8 | b_[i + std::size_t(k)];
            for (unsigned s = firstShift; s < 8; ++s) {
                const std::uint64_t v = (w >> (16 - s)) & Mask48;
                if (v == BlockMagic || v == EndMagic) {
                    isEnd = v == EndMagic;
                    return std::uint64_t(i) * 8 + s;
                }
            }
        }
        // The last few bytes, bit by bit.
        for (std::uint64_t p = std::max<std::uint64_t>(pos, std::uint64_t(i) * 8); p + 48 <= Size();
             ++p) {
            const std::uint64_t v = Read(p, 48);
            if (v == BlockMagic || v == EndMagic) {
                isEnd = v == EndMagic;
                return p;
            }
        }
        return Size();
    }

private:
    const std::vector<unsigned char>& b_;
};

// Finds every block; false when the layout is anything but a row of
// well-formed streams whose combined CRCs match (the serial decoder judges
// such files).
bool FindBlocks(const TBits& bits, const std::vector<unsigned char>& bytes,
                std::vector<TBlock>& blocks) {
    std::size_t at = 0; // byte where a stream starts
    bool first = true;
    while (at + 3 <= bytes.size() && bytes[at] == 'B' && bytes[at + 1] == 'Z' &&
           bytes[at + 2] == 'h') {
        if (at + 4 > bytes.size() || bytes[at + 3] < '1' || bytes[at + 3] > '9')
            return false;
        const char level = char(bytes[at + 3]);
        first = false;
        std::uint64_t pos = std::uint64_t(at) * 8 + 32;
        std::uint32_t combined = 0;
        for (;;) {
            bool isEnd = false;
            if (pos + 80 > bits.Size() || bits.FindMarker(pos, isEnd) != pos)
                return false;
            const std::uint32_t crc = std::uint32_t(bits.Read(pos + 48, 32));
            if (isEnd) {
                if (crc != combined)
                    return false;
                at = std::size_t((pos + 80 + 7) / 8);
                break;
            }
            combined = (combined << 1 | combined >> 31) ^ crc;
            bool nextIsEnd = false;
            const std::uint64_t next = bits.FindMarker(pos + 48, nextIsEnd);
            if (next >= bits.Size())
                return false;
            if (blocks.size() > bytes.size() / MinBlockBytes)
                return false;
            blocks.push_back({pos, next, crc, level});
            pos = next;
        }
    }
    // Bytes after the last stream that do not begin another are ignored, as
    // the serial decoder does; a file that is no stream at all is its to judge.
    return !first;
}

// Memory that outlives one block: decoded output without zero-filling (and
// libbz2's tables through Bzip2Alloc: a fresh 3.6 MB table per block costs
// page faults on every core).
struct TBuffer {
    std::unique_ptr<char[]> Data;
    std::size_t Capacity = 0, Size = 0;
    void Reserve(std::size_t n) {
        if (n <= Capacity)
            return;
        std::unique_ptr<char[]> bigger(new char[n]);
        if (Size > 0)
            std::memcpy(bigger.get(), Data.get(), Size);
        Data = std::move(bigger);
        Capacity = n;
    }
};

class TBlockDecoder {
public:
    // The block as a stream of its own, decoded into out.
    bool Decode(const TBits& bits, const TBlock& block, TBuffer& out) {
        BuildStream(bits, block);
        bz_stream s{};
        s.bzalloc = &Bzip2Alloc;
        s.bzfree = &Bzip2Free;
        if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK)
            return false;
        s.next_in = stream_.data();
        s.avail_in = unsigned(stream_.size());
        out.Size = 0;
        int rc = BZ_OK;
        while (rc == BZ_OK && out.Size < MaxBlockOutput) {
            if (out.Capacity - out.Size < (1 << 16))
                out.Reserve(
                    std::min(MaxBlockOutput, std::max<std::size_t>(out.Capacity * 2, 2 << 20)));
            s.next_out = out.Data.get() + out.Size;
            s.avail_out = unsigned(std::min(out.Capacity, MaxBlockOutput) - out.Size);
            const unsigned before = s.avail_out;
            rc = BZ2_bzDecompress(&s);
            out.Size += before - s.avail_out;
            if (rc == BZ_OK && s.avail_in == 0 && s.avail_out > 0)
                break; // input used up without an end: the cut was wrong
        }
        BZ2_bzDecompressEnd(&s);
        return rc == BZ_STREAM_END;
    }

private:
    void BuildStream(const TBits& bits, const TBlock& block) {
        stream_.reserve(std::size_t((block.End - block.Start) / 8 + 20));
        // The stream's own level: libbz2 refuses a block longer than the level
        // allows, and so must every block decoded here, or a relabelled file
        // would pass here and fail in the serial decoder.
        stream_.assign({'B', 'Z', 'h', block.Level});
        std::uint64_t p = block.Start;
        for (; p + 8 <= block.End; p += 8)
            stream_.push_back(char(bits.ByteAt(p)));
        // The last bits of the block, the end marker and the CRC, packed behind.
        std::uint64_t acc = 0;
        unsigned accBits = 0;
        auto put = [&](std::uint64_t value, unsigned n) {
            for (unsigned k = n; k-- > 0;) {
                acc = acc << 1 | ((value >> k) & 1);
                if (++accBits == 8) {
                    stream_.push_back(char(acc & 0xFF));
                    acc = 0;
                    accBits = 0;
                }
            }
        };
        put(bits.Read(p, unsigned(block.End - p)), unsigned(block.End - p));
        put(EndMagic, 48);
        put(block.Crc, 32);
        if (accBits > 0)
            stream_.push_back(char((acc << (8 - accBits)) & 0xFF));
    }
    std::vector<char> stream_;
};

} // namespace

unsigned Bzip2Workers() {
    const unsigned cores = std::min(8u, Workers::Cores());
    if (cores < 2)
        return 1;
    // Others that want a core: the threads runnable right now besides this
    // one, and the recent average, less this thread's own share of it.
    double load = 0;
    unsigned running = 0, total = 0;
    FILE* f = std::fopen("/proc/loadavg", "re");
    const bool read = f && std::fscanf(f, "%lf %*f %*f %u/%u", &load, &running, &total) == 3;
    if (f)
        std::fclose(f);
    if (!read)
        return 1;
    const double others = std::max({0.0, double(running) - 1, load - 1});
    const double idle = double(cores) - others;
    return idle < 1.5 ? 1 : std::min(cores, unsigned(idle + 0.5));
}

namespace {

// The blocks decoded by workers, at most Window ahead of the writer, and
// handed to the writer in order.
class TOrderedBlocks {
public:
    TOrderedBlocks(const TBits& bits, const std::vector<TBlock>& blocks, unsigned workers)
        : bits_(bits), blocks_(blocks), window_(2 * std::size_t(workers)), decoded_(blocks.size()) {
        for (unsigned t = 0; t < workers; ++t)
            threads_.emplace_back([this] { Work(); });
    }
    ~TOrderedBlocks() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        threads_.clear(); // joins them
    }
    // Waits for block i; false when it failed to decode.
    bool Take(std::size_t i, TBuffer& data) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return decoded_[i].Done; });
        data = std::move(decoded_[i].Data);
        return decoded_[i].Ok;
    }
    // Block i is written; its buffer serves a later block.
    void Written(std::size_t i, TBuffer&& data) {
        std::lock_guard lock(mutex_);
        spare_.push_back(std::move(data));
        written_ = i + 1;
        changed_.notify_all();
    }

private:
    struct TSlot {
        TBuffer Data;
        bool Done = false, Ok = false;
    };
    void Work() {
        TBlockDecoder decoder;
        for (;;) {
            std::size_t i;
            TBuffer out;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stop_ || next_ >= blocks_.size() || next_ < written_ + window_;
                });
                if (stop_ || next_ >= blocks_.size())
                    return;
                i = next_++;
                if (!spare_.empty()) {
                    out = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            const bool ok = decoder.Decode(bits_, blocks_[i], out);
            std::lock_guard lock(mutex_);
            decoded_[i].Data = std::move(out);
            decoded_[i].Done = true;
            decoded_[i].Ok = ok;
            changed_.notify_all();
        }
    }

    const TBits& bits_;
    const std::vector<TBlock>& blocks_;
    const std::size_t window_;
    std::vector<TSlot> decoded_;
    std::vector<TBuffer> spare_; // written buffers, for the next blocks
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0, written_ = 0;
    bool stop_ = false;
    std::vector<Workers::TWorker> threads_; // last: started once the rest exists
};

enum class TReadAll { Read, Failed, TooLarge };

// The whole file in bytes, unless it is larger than MaxInMemory.
TReadAll ReadAll(TFileSource& source, std::vector<unsigned char>& bytes) {
    const std::uint64_t size = std::uint64_t(source.Info().st_size);
    if (size > MaxInMemory)
        return TReadAll::TooLarge;
    bytes.resize(std::size_t(size) + 1);
    std::size_t have = 0;
    for (;;) {
        if (have == bytes.size())
            bytes.resize(have * 2);
        const std::int64_t n =
            source.Read(reinterpret_cast<char*>(bytes.data() + have), bytes.size() - have);
        if (n < 0)
            return TReadAll::Failed;
        if (n == 0)
            break;
        have += std::size_t(n);
        if (have > MaxInMemory)
            return TReadAll::TooLarge;
    }
    bytes.resize(have);
    return TReadAll::Read;
}

} // namespace

std::optional<TDecompressResult> UncompressBzip2InParallel(const QString& inFile,
                                                           const QString& outFile,
                                                           std::uint64_t maxOutput,
                                                           unsigned workers) {
    if (workers < 2)
        return std::nullopt;
    TDecompressResult result;
    TFileSource source;
    std::vector<unsigned char> bytes;
    const TReadAll read = source.Open(inFile) ? ReadAll(source, bytes) : TReadAll::Failed;
    if (read == TReadAll::Failed) {
        result.Status = TDecompressStatus::InputFailed;
        return result;
    }
    if (read == TReadAll::TooLarge)
        return std::nullopt;
    const TBits bits(bytes);
    std::vector<TBlock> blocks;
    if (!FindBlocks(bits, bytes, blocks) || blocks.size() < 2)
        return std::nullopt; // one block gains nothing from workers

    SafeFiles::TAtomicFile file(outFile);
    file.SkipFlush(); // a scratch file, copied again when kept
    if (!file.Open()) {
        result.Status = TDecompressStatus::OutputFailed;
        return result;
    }
    bool fallBack = false;
    {
        TOrderedBlocks decoded(bits, blocks, workers);
        for (std::size_t i = 0; i < blocks.size() && result.Ok() && !fallBack; ++i) {
            TBuffer data;
            fallBack = !decoded.Take(i, data);
            if (fallBack)
                break;
            if (result.Written + data.Size > maxOutput) {
                result.Status = TDecompressStatus::TooLarge;
                break;
            }
            if (!file.Write(data.Data.get(), data.Size)) {
                result.Status = TDecompressStatus::OutputFailed;
                break;
            }
            result.Written += data.Size;
            decoded.Written(i, std::move(data));
        }
    } // the workers end here
    if (fallBack) {
        file.Abort();
        return std::nullopt;
    }
    if (!result.Ok()) {
        file.Abort();
        return result;
    }
    if (!file.Commit())
        result.Status = TDecompressStatus::OutputFailed;
    return result;
}

} // namespace FileTools
