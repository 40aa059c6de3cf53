// gzip: the header reader and the decompression of one file's first member.

#include "sources/FileTools.h"
#include "sources/FileToolsIo.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

namespace FileTools {

// ---------------------------------------------------------------------------
// Header.

std::size_t TGzipHeaderReader::Feed(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    // The step after Done-so-far: each optional part only when its flag is set.
    auto next = [this](TStep from) {
        const std::uint8_t f = header_.flags;
        if (from == TStep::Fixed && (f & GzipFlagExtra))
            return TStep::ExtraLength;
        if (from <= TStep::Extra && (f & GzipFlagName))
            return TStep::Name;
        if (from <= TStep::Name && (f & GzipFlagComment))
            return TStep::Comment;
        if (from <= TStep::Comment && (f & GzipFlagHeaderCrc))
            return TStep::HeaderCrc;
        return TStep::Done;
    };
    auto go = [&](TStep step) {
        step_ = step;
        have_ = 0;
        if (step == TStep::Done)
            status_ = TGzipHeaderStatus::Complete;
    };
    while (status_ == TGzipHeaderStatus::NeedMore && i < size) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        switch (step_) {
        case TStep::Fixed:
            fixed_[have_++] = byte;
            ++i;
            if ((have_ == 1 && byte != 0x1F) || (have_ == 2 && byte != 0x8B)) {
                status_ = TGzipHeaderStatus::NotGzip;
                header_.length += i;
                return i;
            }
            if (have_ == 10) {
                header_.method = fixed_[2];
                header_.flags = fixed_[3];
                header_.mtime = std::uint32_t(fixed_[4]) | std::uint32_t(fixed_[5]) << 8 |
                                std::uint32_t(fixed_[6]) << 16 | std::uint32_t(fixed_[7]) << 24;
                header_.hasName = (header_.flags & GzipFlagName) != 0;
                go(next(TStep::Fixed));
            }
            break;
        case TStep::ExtraLength:
            remaining_ |= std::uint32_t(byte) << (8 * have_);
            ++have_;
            ++i;
            if (have_ == 2)
                go(remaining_ > 0 ? TStep::Extra : next(TStep::Extra));
            break;
        case TStep::Extra: {
            const std::size_t skip = std::min<std::size_t>(remaining_, size - i);
            i += skip;
            remaining_ -= std::uint32_t(skip);
            if (remaining_ == 0)
                go(next(TStep::Extra));
            break;
        }
        case TStep::Name:
        case TStep::Comment: {
            const char* start = bytes.data() + i;
            const void* end = std::memchr(start, 0, size - i);
            const std::size_t length =
                end ? std::size_t(static_cast<const char*>(end) - start) : size - i;
            if (step_ == TStep::Name && !header_.nameTooLong) {
                if (header_.storedName.size() + length > MaxStoredNameLength) {
                    header_.nameTooLong = true;
                    header_.storedName.clear();
                } else {
                    header_.storedName.append(start, length);
                }
            }
            i += length;
            if (end) {
                ++i; // the terminating 0
                go(next(step_));
            }
            break;
        }
        case TStep::HeaderCrc:
            ++have_;
            ++i;
            if (have_ == 2)
                go(TStep::Done);
            break;
        case TStep::Done:
            break;
        }
    }
    header_.length += i;
    return i;
}

// ---------------------------------------------------------------------------
// Decompression.

namespace {

constexpr std::size_t InputBlock = std::size_t(1) << 20;

// The output's name: the stored one when it is one plain file name, else the
// source's name without its last extension.
QString OutputName(const TGzipHeader& header, const QString& source, bool& fromHeader) {
    fromHeader =
        header.hasName && !header.nameTooLong && SafeFiles::IsPlainFileName(header.storedName);
    if (fromHeader)
        return QFile::decodeName(
            QByteArray(header.storedName.data(), qsizetype(header.storedName.size())));
    return QFileInfo(source).completeBaseName();
}

bool CopyTimeAndPermissions(const QString& path, const struct stat& from) {
    const QByteArray native = QFile::encodeName(path);
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    return ::utimensat(AT_FDCWD, native.constData(), times, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::chmod(native.constData(), from.st_mode & 0777) == 0;
}

} // namespace

TGUnZipResult GUnZipFile(const QString& source, const QString& destFolder, std::size_t bufferSize,
                         const QStringList& acceptedNames, std::uint64_t maxOutput) {
    using O = TGUnZipOutcome;
    TGUnZipResult result;
    auto end = [&](O outcome) {
        result.outcome = outcome;
        return result;
    };
    TFileSource input;
    if (destFolder.isEmpty() || !input.Open(source))
        return end(O::NoSource);
    const std::uint64_t fileSize = std::uint64_t(input.Info().st_size);
    if (bufferSize == 0)
        bufferSize = DefaultBufferSize;

    // The header, read in the same blocks as the data after it.
    std::unique_ptr<char[]> in(new char[InputBlock]);
    TGzipHeaderReader header;
    std::size_t inPos = 0, inHave = 0;
    while (header.Status() == TGzipHeaderStatus::NeedMore) {
        const std::int64_t n = input.Read(in.get(), InputBlock);
        if (n < 0)
            return end(O::NoSource);
        if (n == 0)
            break;
        inHave = std::size_t(n);
        inPos = header.Feed(std::string_view(in.get(), inHave));
    }
    if (header.Status() == TGzipHeaderStatus::NotGzip ||
        (header.Status() == TGzipHeaderStatus::NeedMore && header.Header().length < 2))
        return end(O::NotGzip);
    if (header.Status() == TGzipHeaderStatus::NeedMore)
        return end(O::InflateError); // a header cut short: nothing to decompress

    bool fromHeader = false;
    const QString name = OutputName(header.Header(), source, fromHeader);
    if (!SafeFiles::IsPlainFileName(QFile::encodeName(name).toStdString()))
        return end(O::CreateFailed);
    result.outputPath = SafeFiles::InFolder(destFolder, name);
    if (fromHeader && !acceptedNames.isEmpty() && !acceptedNames.contains(name))
        return end(O::NameRefused);

    TAtomicFileSink output(result.outputPath, bufferSize);
    if (!output.Open())
        return end(O::CreateFailed);

    // Raw deflate data lies between the header and the 8-byte trailer.
    const std::uint64_t headerLength = header.Header().length;
    std::uint64_t dataLeft = fileSize >= headerLength + 8 ? fileSize - headerLength - 8 : 0;
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        return end(O::InflateError);
    struct TInflateEnd {
        z_stream* s;
        ~TInflateEnd() { inflateEnd(s); }
    } inflateGuard{&zs};

    uLong crc = crc32(0, nullptr, 0);
    constexpr std::size_t CrcStep = std::size_t(1) << 16;
    char* block = nullptr; // filled whole before it goes to the writer
    std::size_t blockSize = 0, blockUsed = 0;
    for (;;) {
        if (zs.avail_in == 0 && dataLeft > 0) {
            if (inPos == inHave) {
                const std::int64_t n = input.Read(in.get(), InputBlock);
                if (n <= 0)
                    return end(n < 0 ? O::NoSource : O::InflateError);
                inPos = 0;
                inHave = std::size_t(n);
            }
            const std::size_t take = std::size_t(std::min<std::uint64_t>(inHave - inPos, dataLeft));
            zs.next_in = reinterpret_cast<Bytef*>(in.get() + inPos);
            zs.avail_in = uInt(take);
            inPos += take;
            dataLeft -= take;
        }
        if (!block) {
            block = output.Buffer(blockSize);
            if (!block)
                return end(O::WriteFailed);
        }
        // Inflate in small steps and take the CRC of each at once, while the
        // bytes are still in the cache; the writer gets whole blocks.
        zs.next_out = reinterpret_cast<Bytef*>(block + blockUsed);
        zs.avail_out = uInt(std::min(blockSize - blockUsed, CrcStep));
        const uInt outBefore = zs.avail_out;
        const uInt inBefore = zs.avail_in;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = outBefore - zs.avail_out;
        if (produced > 0) {
            if (result.bytesWritten + produced > maxOutput)
                return end(O::TooLarge);
            crc = crc32_z(crc, reinterpret_cast<const Bytef*>(block + blockUsed), produced);
            result.bytesWritten += produced;
            blockUsed += produced;
        }
        if ((blockUsed == blockSize || (rc == Z_STREAM_END && blockUsed > 0))) {
            if (!output.Commit(blockUsed))
                return end(O::WriteFailed);
            block = nullptr;
            blockUsed = 0;
        }
        if (rc == Z_STREAM_END)
            break;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            return end(O::InflateError);
        // No progress: with all the data given, the deflate stream was cut
        // short (a refill always precedes a call while data is left).
        if (produced == 0 && inBefore == zs.avail_in)
            return end(O::InflateError);
    }
    result.crc = std::uint32_t(crc);

    // The trailer follows the deflate data at once (a later member is ignored).
    unsigned char trailer[8];
    if (!input.ReadAt(headerLength + zs.total_in, reinterpret_cast<char*>(trailer), 8))
        return end(O::TrailerMismatch);
    auto le32 = [&](int at) {
        return std::uint32_t(trailer[at]) | std::uint32_t(trailer[at + 1]) << 8 |
               std::uint32_t(trailer[at + 2]) << 16 | std::uint32_t(trailer[at + 3]) << 24;
    };
    if (le32(0) != result.crc || le32(4) != std::uint32_t(result.bytesWritten))
        return end(O::TrailerMismatch);
    if (!output.Finish())
        return end(O::WriteFailed);
    if (!CopyTimeAndPermissions(result.outputPath, input.Info()))
        return end(O::SetTimeFailed);
    return end(O::Ok);
}

} // namespace FileTools
