#include "archive/FileTools.h"

#include "archive/FileToolsIo.h"
#include "base/LongOperation.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <cstring>

namespace FileTools {

namespace {

// Blocks of decompressed output handed to the writer. Small enough to stay in
// the core's cache between the decoder writing a block and the write() that
// copies it out: larger blocks measured slower, since the decoder's own
// tables (3.6 MB for bzip2) already fill the cache.
constexpr std::size_t OutputBlock = std::size_t(1) << 16;
// The most memory an xz stream may ask for: its dictionary, which fills as
// the output grows. xz -9, the largest preset, needs 65 MiB; a stream that
// declares more is made to exhaust the machine, not to be an index.
constexpr std::uint64_t XzMemoryLimit = std::uint64_t(128) << 20;
// The largest zstd window accepted (2^27 = 128 MiB, libzstd's own default
// and what the command-line tool accepts without being told otherwise).
constexpr int ZstdWindowLogMax = 27;
// libbz2 has no code of its own for a stream cut short in BZ2_bzDecompress;
// its file interface reports it as BZ_UNEXPECTED_EOF.
constexpr int Bzip2Truncated = BZ_UNEXPECTED_EOF;

class TBzip2Decoder final : public TDecoder {
public:
    ~TBzip2Decoder() override { End(); }
    TStep Begin() override {
        End();
        std::memset(&stream_, 0, sizeof stream_);
        stream_.bzalloc = &Bzip2Alloc;
        stream_.bzfree = &Bzip2Free;
        const int rc = BZ2_bzDecompressInit(&stream_, 0, 0);
        if (rc != BZ_OK)
            return {TStep::Failed, TDecompressStatus::NoMemory, rc};
        open_ = true;
        return {};
    }
    TStep Decode(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft,
                 bool) override {
        stream_.next_in = const_cast<char*>(in);
        stream_.avail_in = Clamp(inLeft);
        stream_.next_out = out;
        stream_.avail_out = Clamp(outLeft);
        const unsigned inBefore = stream_.avail_in;
        const unsigned outBefore = stream_.avail_out;
        const int rc = BZ2_bzDecompress(&stream_);
        Advance(in, inLeft, inBefore - stream_.avail_in);
        Advance(out, outLeft, outBefore - stream_.avail_out);
        if (rc == BZ_STREAM_END)
            return {TStep::StreamEnd};
        if (rc == BZ_OK)
            return {};
        if (rc == BZ_MEM_ERROR)
            return {TStep::Failed, TDecompressStatus::NoMemory, rc};
        return {TStep::Failed, TDecompressStatus::DataError, rc};
    }
    TStep AtEnd() const override {
        return {TStep::Failed, TDecompressStatus::Truncated, Bzip2Truncated};
    }
    // After a stream, bytes that do not begin another one are ignored, as
    // the command-line tool does.
    bool ReadsOn() const override { return true; }
    std::size_t MagicLength() const override { return 3; }
    bool StartsStream(const char* in) const override { return std::memcmp(in, "BZh", 3) == 0; }

private:
    static unsigned Clamp(std::size_t n) { return unsigned(std::min<std::size_t>(n, 1u << 30)); }
    template <typename P> static void Advance(P*& p, std::size_t& left, std::size_t n) {
        p += n;
        left -= n;
    }
    void End() {
        if (open_)
            BZ2_bzDecompressEnd(&stream_);
        open_ = false;
    }
    bz_stream stream_{};
    bool open_ = false;
};

// Reads concatenated streams itself and reports a stream cut short itself.
class TXzDecoder final : public TDecoder {
public:
    ~TXzDecoder() override { lzma_end(&stream_); }
    TStep Begin() override {
        lzma_end(&stream_);
        stream_ = LZMA_STREAM_INIT;
        const lzma_ret rc = lzma_stream_decoder(&stream_, XzMemoryLimit, LZMA_CONCATENATED);
        if (rc != LZMA_OK)
            return {TStep::Failed, TDecompressStatus::NoMemory, int(rc)};
        return {};
    }
    TStep Decode(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft,
                 bool inputEnded) override {
        stream_.next_in = reinterpret_cast<const std::uint8_t*>(in);
        stream_.avail_in = inLeft;
        stream_.next_out = reinterpret_cast<std::uint8_t*>(out);
        stream_.avail_out = outLeft;
        const lzma_ret rc = lzma_code(&stream_, inputEnded ? LZMA_FINISH : LZMA_RUN);
        in += inLeft - stream_.avail_in;
        inLeft = stream_.avail_in;
        out += outLeft - stream_.avail_out;
        outLeft = stream_.avail_out;
        switch (rc) {
        case LZMA_OK:
            return {};
        case LZMA_STREAM_END:
            return {TStep::StreamEnd};
        case LZMA_BUF_ERROR:
            // No progress possible: with LZMA_FINISH, the input ended inside a stream.
            return {TStep::Failed, TDecompressStatus::Truncated, int(rc)};
        case LZMA_MEM_ERROR:
        case LZMA_MEMLIMIT_ERROR:
            return {TStep::Failed, TDecompressStatus::NoMemory, int(rc)};
        default:
            return {TStep::Failed, TDecompressStatus::DataError, int(rc)};
        }
    }
    // With LZMA_FINISH the next call says LZMA_BUF_ERROR.
    TStep AtEnd() const override { return {}; }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

// Reads concatenated frames itself.
class TZstdDecoder final : public TDecoder {
public:
    ~TZstdDecoder() override { ZSTD_freeDStream(stream_); }
    TStep Begin() override {
        if (!stream_) {
            stream_ = ZSTD_createDStream();
            if (!stream_)
                return {TStep::Failed, TDecompressStatus::NoMemory, 0};
            ZSTD_DCtx_setParameter(stream_, ZSTD_d_windowLogMax, ZstdWindowLogMax);
        }
        ZSTD_DCtx_reset(stream_, ZSTD_reset_session_only);
        pending_ = 0;
        return {};
    }
    TStep Decode(const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft,
                 bool) override {
        ZSTD_inBuffer input{in, inLeft, 0};
        ZSTD_outBuffer output{out, outLeft, 0};
        const std::size_t rc = ZSTD_decompressStream(stream_, &output, &input);
        in += input.pos;
        inLeft -= input.pos;
        out += output.pos;
        outLeft -= output.pos;
        if (ZSTD_isError(rc)) {
            const ZSTD_ErrorCode code = ZSTD_getErrorCode(rc);
            const bool memory = code == ZSTD_error_memory_allocation ||
                                code == ZSTD_error_frameParameter_windowTooLarge;
            return {TStep::Failed,
                    memory ? TDecompressStatus::NoMemory : TDecompressStatus::DataError, int(code)};
        }
        // 0: a frame has just ended and everything of it has been flushed.
        // Frames that follow are decoded by the same stream. A call without
        // progress after a frame asks for the next frame's header: it says
        // nothing about whether the last one was complete.
        if (input.pos > 0 || output.pos > 0)
            pending_ = rc;
        return {};
    }
    // The input ends: complete only when the last frame was.
    TStep AtEnd() const override {
        if (pending_ == 0)
            return {TStep::StreamEnd};
        return {TStep::Failed, TDecompressStatus::Truncated, int(ZSTD_error_srcSize_wrong)};
    }

private:
    ZSTD_DStream* stream_ = nullptr;
    std::size_t pending_ = 0;
};

} // namespace

QString TDecompressResult::Text() const {
    switch (Status) {
    case TDecompressStatus::Ok:
        return {};
    case TDecompressStatus::InputFailed:
        return QStringLiteral("не удалось прочитать сжатый файл");
    case TDecompressStatus::OutputFailed:
        return QStringLiteral("не удалось записать распакованный файл");
    case TDecompressStatus::TooLarge:
        return QStringLiteral("распакованный файл слишком велик");
    case TDecompressStatus::NoMemory:
        return QStringLiteral("для распаковки нужно больше памяти, чем допустимо (error %1)")
            .arg(Code);
    default:
        return QStringLiteral("error %1").arg(Code);
    }
}

namespace {

// After a stream of a decoder that ReadsOn: Begin for the next one when the
// input goes on with one, StreamEnd when the rest is to be ignored.
TStep NextStream(TDecoder& decoder, TInput& in) {
    const std::size_t magic = decoder.MagicLength();
    if (!in.Ahead(magic))
        return {TStep::Failed, TDecompressStatus::InputFailed, 0};
    if (in.Left < magic || !decoder.StartsStream(in.Pos))
        return {TStep::StreamEnd};
    return decoder.Begin();
}

// The sink's block being filled.
struct TOutBlock {
    TBlockSink& Sink;
    char* Data = nullptr;
    std::size_t Size = 0, Used = 0;
    // Hands over what the block holds; the next output takes a new one.
    bool Flush() {
        if (Data && Used > 0 && !Sink.Commit(Used))
            return false;
        Data = nullptr;
        Used = 0;
        return true;
    }
};

} // namespace

TDecompressResult DecodeAll(TDecoder& decoder, TInput& in, TBlockSink& out,
                            std::uint64_t maxOutput) {
    TDecompressResult result;
    TOutBlock block{out};
    auto flush = [&] { return block.Flush(); };
    // What was decoded before a failure still goes out: a device then holds
    // everything up to the fault (a file sink drops it all anyway).
    auto fail = [&](TDecompressStatus status, int code) {
        if (status != TDecompressStatus::OutputFailed)
            flush();
        result.Status = status;
        result.Code = code;
        return result;
    };
    TStep step = decoder.Begin();
    if (step.Kind == TStep::Failed)
        return fail(step.Status, step.Code);
    bool inStream = true; // inside a stream that has not ended yet
    int stalls = 0;       // calls in a row that neither took nor gave a byte

    for (;;) {
        if (in.Left == 0 && !in.Ended && !in.Refill())
            return fail(TDecompressStatus::InputFailed, 0);
        if (!in.Any && in.Ended && decoder.EmptyInputIsEmpty())
            break;
        if (!inStream) {
            step = NextStream(decoder, in);
            if (step.Kind == TStep::StreamEnd)
                break; // trailing bytes, ignored
            if (step.Kind == TStep::Failed)
                return fail(step.Status, step.Code);
            inStream = true;
        }
        if (!block.Data && !(block.Data = out.Buffer(block.Size)))
            return fail(TDecompressStatus::OutputFailed, 0);
        char* outPos = block.Data + block.Used;
        std::size_t outLeft = block.Size - block.Used;
        const std::size_t inBefore = in.Left;
        step = decoder.Decode(in.Pos, in.Left, outPos, outLeft, in.Ended);
        const std::size_t produced = block.Size - block.Used - outLeft;
        if (produced > 0) {
            if (result.Written + produced > maxOutput)
                return fail(TDecompressStatus::TooLarge, 0);
            result.Written += produced;
            block.Used += produced;
        }
        if (step.Kind == TStep::Failed)
            return fail(step.Status, step.Code);
        // A decoder that makes no progress with input and room to spare
        // would hold this loop for ever; no library does, but the input is
        // hostile, so a stall counts as corrupt data.
        stalls = produced == 0 && in.Left == inBefore && in.Left > 0 ? stalls + 1 : 0;
        if (stalls > 2)
            return fail(TDecompressStatus::DataError, 0);
        if (block.Used == block.Size && !flush())
            return fail(TDecompressStatus::OutputFailed, 0);
        if (step.Kind == TStep::StreamEnd) {
            if (!decoder.ReadsOn())
                break;
            inStream = false;
            continue;
        }
        if (in.Ended && in.Left == 0 && produced == 0 && outLeft > 0) {
            // Nothing more will come: the decoder judges what it has.
            step = decoder.AtEnd();
            if (step.Kind == TStep::StreamEnd)
                break;
            if (step.Kind == TStep::Failed)
                return fail(step.Status, step.Code);
        }
    }
    if (!flush())
        return fail(TDecompressStatus::OutputFailed, 0);
    return result;
}

namespace {

// Runs work with the decoder of kind.
template <typename F> TDecompressResult WithDecoder(TCompression kind, F&& work) {
    switch (kind) {
    case TCompression::Bzip2: {
        TBzip2Decoder decoder;
        return work(decoder);
    }
    case TCompression::Xz: {
        TXzDecoder decoder;
        return work(decoder);
    }
    case TCompression::Zstd:
        break;
    }
    TZstdDecoder decoder;
    return work(decoder);
}

} // namespace

TDecompressResult UncompressStream(TCompression kind, QIODevice& in, QIODevice& out,
                                   std::uint64_t maxOutput) {
    TDeviceSource source(in);
    TInput input(source);
    TDeviceSink sink(out, OutputBlock);
    return WithDecoder(
        kind, [&](TDecoder& decoder) { return DecodeAll(decoder, input, sink, maxOutput); });
}

TDecompressResult UncompressFile(TCompression kind, const QString& inFile, const QString& outFile,
                                 std::uint64_t maxOutput) {
    if (kind == TCompression::Bzip2)
        if (std::optional<TDecompressResult> done =
                UncompressBzip2InParallel(inFile, outFile, maxOutput, Bzip2Workers()))
            return *done;
    TDecompressResult result;
    TFileSource source;
    if (!source.Open(inFile)) {
        result.Status = TDecompressStatus::InputFailed;
        return result;
    }
    TAtomicFileSink sink(outFile, OutputBlock);
    if (!sink.Open()) {
        result.Status = TDecompressStatus::OutputFailed;
        return result;
    }
    TInput input(source);
    result = WithDecoder(
        kind, [&](TDecoder& decoder) { return DecodeAll(decoder, input, sink, maxOutput); });
    if (!result.Ok()) {
        sink.Abort();
        return result;
    }
    if (!sink.Finish())
        result.Status = TDecompressStatus::OutputFailed;
    return result;
}

} // namespace FileTools

// ---------------------------------------------------------------------------

TCopyThread::TCopyThread(QObject* parent) : QObject(parent) {}

TCopyThread::~TCopyThread() {
    Join();
}

void TCopyThread::Start() {
    if (started_)
        return;
    started_ = true;
    thread_ = Workers::TWorker([this] {
        Execute();
        // The hand-off: the flag is set and the signal sent on the creating
        // thread. If the worker object is gone by then, the event goes with it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                terminated_ = true;
                emit finished();
            },
            Qt::QueuedConnection);
    });
}

void TCopyThread::Join() {
    thread_.Join();
}

void TCopyThread::WaitFor() {
    if (!started_)
        return;
    LongOperation::WaitUntil([this] { return terminated_; });
}

TGUnZipThread::TGUnZipThread(QString sourceFile, QString destFolder, bool createSuspended,
                             std::size_t bufferSize, QThread::Priority, QStringList acceptedNames,
                             std::uint64_t maxOutput, QObject* parent)
    : TCopyThread(parent), sourceFile_(std::move(sourceFile)), destFolder_(std::move(destFolder)),
      bufferSize_(bufferSize), acceptedNames_(std::move(acceptedNames)), maxOutput_(maxOutput) {
    if (!createSuspended)
        Start();
}

TGUnZipThread::~TGUnZipThread() {
    Join();
}

void TGUnZipThread::Execute() {
    result_ =
        FileTools::GUnZipFile(sourceFile_, destFolder_, bufferSize_, acceptedNames_, maxOutput_);
}
