// gzip: the header reader and the decompression of one file's first member.

#include "archive/FileTools.h"
#include "archive/FileToolsIo.h"
#include "base/Utf8Text.h"

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

TGzipHeaderReader::TPart TGzipHeaderReader::NextAfter(TPart from) const {
    const std::uint8_t f = header_.Flags;
    if (from == TPart::Fixed && (f & GzipFlagExtra))
        return TPart::ExtraLength;
    if (from <= TPart::Extra && (f & GzipFlagName))
        return TPart::Name;
    if (from <= TPart::Name && (f & GzipFlagComment))
        return TPart::Comment;
    if (from <= TPart::Comment && (f & GzipFlagHeaderCrc))
        return TPart::HeaderCrc;
    return TPart::Done;
}

void TGzipHeaderReader::Go(TPart step) {
    step_ = step;
    have_ = 0;
    if (step == TPart::Done)
        status_ = TGzipHeaderStatus::Complete;
}

void TGzipHeaderReader::FeedFixed(std::uint8_t byte) {
    fixed_[have_++] = byte;
    if ((have_ == 1 && byte != 0x1F) || (have_ == 2 && byte != 0x8B)) {
        status_ = TGzipHeaderStatus::NotGzip;
        return;
    }
    if (have_ == 10) {
        header_.Method = fixed_[2];
        header_.Flags = fixed_[3];
        header_.MTime = std::uint32_t(fixed_[4]) | std::uint32_t(fixed_[5]) << 8 |
                        std::uint32_t(fixed_[6]) << 16 | std::uint32_t(fixed_[7]) << 24;
        header_.HasName = (header_.Flags & GzipFlagName) != 0;
        Go(NextAfter(TPart::Fixed));
    }
}

std::size_t TGzipHeaderReader::FeedText(std::string_view bytes) {
    const void* end = std::memchr(bytes.data(), 0, bytes.size());
    const std::size_t length =
        end ? std::size_t(static_cast<const char*>(end) - bytes.data()) : bytes.size();
    if (step_ == TPart::Name && !header_.NameTooLong) {
        if (header_.StoredName.size() + length > MaxStoredNameLength) {
            header_.NameTooLong = true;
            header_.StoredName.clear();
        } else {
            header_.StoredName.append(bytes.data(), length);
        }
    }
    if (!end)
        return length;
    Go(NextAfter(step_));
    return length + 1; // the terminating 0
}

std::size_t TGzipHeaderReader::Feed(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t size = bytes.size();
    while (status_ == TGzipHeaderStatus::NeedMore && i < size) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        switch (step_) {
        case TPart::Fixed:
            ++i;
            FeedFixed(byte); // a wrong magic byte ends the loop
            break;
        case TPart::ExtraLength:
            remaining_ |= std::uint32_t(byte) << (8 * have_);
            ++have_;
            ++i;
            if (have_ == 2)
                Go(remaining_ > 0 ? TPart::Extra : NextAfter(TPart::Extra));
            break;
        case TPart::Extra: {
            const std::size_t skip = std::min<std::size_t>(remaining_, size - i);
            i += skip;
            remaining_ -= std::uint32_t(skip);
            if (remaining_ == 0)
                Go(NextAfter(TPart::Extra));
            break;
        }
        case TPart::Name:
        case TPart::Comment:
            i += FeedText(bytes.substr(i));
            break;
        case TPart::HeaderCrc:
            ++have_;
            ++i;
            if (have_ == 2)
                Go(TPart::Done);
            break;
        case TPart::Done:
            break;
        }
    }
    header_.Length += i;
    return i;
}

// ---------------------------------------------------------------------------
// Decompression.

namespace {

// Raw deflate data, with the CRC-32 of everything it gives.
class TInflateDecoder final : public TDecoder {
public:
    ~TInflateDecoder() override {
        if (open_)
            inflateEnd(&zs_);
    }
    TStep Begin() override {
        if (inflateInit2(&zs_, -MAX_WBITS) != Z_OK)
            return {TStep::Failed, TDecompressStatus::NoMemory, 0};
        open_ = true;
        return {};
    }
    TStep Decode(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft,
                 bool) override {
        // Inflate in small steps and take the CRC of each at once, while the
        // bytes are still in the cache; the writer gets whole blocks.
        zs_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in));
        zs_.avail_in = uInt(inLeft);
        zs_.next_out = reinterpret_cast<Bytef*>(out);
        zs_.avail_out = uInt(std::min(outLeft, CrcStep));
        const uInt inBefore = zs_.avail_in;
        const uInt outBefore = zs_.avail_out;
        const int rc = inflate(&zs_, Z_NO_FLUSH);
        const std::size_t taken = inBefore - zs_.avail_in;
        const std::size_t produced = outBefore - zs_.avail_out;
        if (produced > 0)
            crc_ = crc32_z(crc_, reinterpret_cast<const Bytef*>(out), produced);
        in += taken;
        inLeft -= taken;
        out += produced;
        outLeft -= produced;
        if (rc == Z_STREAM_END)
            return {TStep::StreamEnd};
        if (rc == Z_OK || rc == Z_BUF_ERROR) // Z_BUF_ERROR: no progress, judged by the caller
            return {};
        return {TStep::Failed, TDecompressStatus::DataError, rc};
    }
    // All the data given and nothing more comes out: the stream was cut short.
    TStep AtEnd() const override { return {TStep::Failed, TDecompressStatus::Truncated, 0}; }
    // Deflate data has at least its last block.
    bool EmptyInputIsEmpty() const override { return false; }

    std::uint64_t TotalIn() const { return zs_.total_in; }
    std::uint32_t Crc() const { return std::uint32_t(crc_); }

private:
    static constexpr std::size_t CrcStep = std::size_t(1) << 16;
    z_stream zs_{};
    bool open_ = false;
    uLong crc_ = crc32(0, nullptr, 0);
};

// Reads the header in the same blocks as the data after it; Ok when complete.
TGUnZipOutcome ReadHeader(TInput& input, TGzipHeaderReader& header) {
    while (header.Status() == TGzipHeaderStatus::NeedMore) {
        if (!input.Refill())
            return TGUnZipOutcome::NoSource;
        if (input.Ended)
            break;
        input.Skip(header.Feed(std::string_view(input.Pos, input.Left)));
    }
    if (header.Status() == TGzipHeaderStatus::NotGzip ||
        (header.Status() == TGzipHeaderStatus::NeedMore && header.Header().Length < 2))
        return TGUnZipOutcome::NotGzip;
    if (header.Status() == TGzipHeaderStatus::NeedMore)
        return TGUnZipOutcome::InflateError; // a header cut short: nothing to decompress
    return TGUnZipOutcome::Ok;
}

// The output's name: the stored one when it is one plain file name, else the
// source's name without its last extension.
QString OutputName(const TGzipHeader& header, const QString& source, bool& fromHeader) {
    fromHeader =
        header.HasName && !header.NameTooLong && SafeFiles::IsPlainFileName(header.StoredName);
    if (fromHeader)
        return Utf8Text::Decode(header.StoredName);
    return QFileInfo(source).completeBaseName();
}

TGUnZipOutcome OutcomeOf(TDecompressStatus status) {
    switch (status) {
    case TDecompressStatus::Ok:
        return TGUnZipOutcome::Ok;
    case TDecompressStatus::InputFailed:
        return TGUnZipOutcome::NoSource;
    case TDecompressStatus::OutputFailed:
        return TGUnZipOutcome::WriteFailed;
    case TDecompressStatus::TooLarge:
        return TGUnZipOutcome::TooLarge;
    default:
        return TGUnZipOutcome::InflateError;
    }
}

// The trailer follows the deflate data at once (a later member is ignored).
bool TrailerMatches(TFileSource& input, std::uint64_t at, std::uint32_t crc, std::uint64_t size) {
    unsigned char trailer[8];
    if (!input.ReadAt(at, reinterpret_cast<char*>(trailer), 8))
        return false;
    auto le32 = [&](int from) {
        return std::uint32_t(trailer[from]) | std::uint32_t(trailer[from + 1]) << 8 |
               std::uint32_t(trailer[from + 2]) << 16 | std::uint32_t(trailer[from + 3]) << 24;
    };
    return le32(0) == crc && le32(4) == std::uint32_t(size);
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
    using enum TGUnZipOutcome;
    TGUnZipResult result;
    auto end = [&](TGUnZipOutcome outcome) {
        result.Outcome = outcome;
        return result;
    };
    TFileSource file;
    if (destFolder.isEmpty() || !file.Open(source))
        return end(NoSource);
    TInput input(file);
    TGzipHeaderReader header;
    if (const TGUnZipOutcome read = ReadHeader(input, header); read != Ok)
        return end(read);

    bool fromHeader = false;
    const QString name = OutputName(header.Header(), source, fromHeader);
    if (!SafeFiles::IsPlainFileName(QFile::encodeName(name).toStdString()))
        return end(CreateFailed);
    result.OutputPath = SafeFiles::InFolder(destFolder, name);
    if (fromHeader && !acceptedNames.isEmpty() && !acceptedNames.contains(name))
        return end(NameRefused);

    TAtomicFileSink output(result.OutputPath, bufferSize == 0 ? DefaultBufferSize : bufferSize);
    if (!output.Open())
        return end(CreateFailed);

    // Raw deflate data lies between the header and the 8-byte trailer.
    const std::uint64_t fileSize = std::uint64_t(file.Info().st_size);
    const std::uint64_t headerLength = header.Header().Length;
    input.Limit(fileSize >= headerLength + 8 ? fileSize - headerLength - 8 : 0);
    TInflateDecoder inflater;
    const TDecompressResult data = DecodeAll(inflater, input, output, maxOutput);
    result.BytesWritten = data.Written;
    if (!data.Ok())
        return end(OutcomeOf(data.Status));
    result.Crc = inflater.Crc();
    if (!TrailerMatches(file, headerLength + inflater.TotalIn(), result.Crc, result.BytesWritten))
        return end(TrailerMismatch);
    if (!output.Finish())
        return end(WriteFailed);
    if (!CopyTimeAndPermissions(result.OutputPath, file.Info()))
        return end(SetTimeFailed);
    return end(Ok);
}

} // namespace FileTools
