#pragma once

#include "base/SafeFiles.h"
#include "base/Workers.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class QIODevice;

// Decompression of downloaded indexes: gzip on a worker thread (TGUnZipThread),
// bzip2, xz and zstd as plain functions that may run on any thread.
//
// Everything here reads bytes from the network, so every reader assumes the
// worst: a corrupt or cut-short archive is a failure, never a success with a
// truncated index; an output larger than the limit is refused; a name stored
// in an archive is used only when it is one plain file name.
//
// Files written. Every function that writes a file by path writes it through
// SafeFiles::TAtomicFile: the file at the output path is replaced in one step
// when decompression succeeded and is left exactly as it was (or absent)
// otherwise; no partial output is ever left behind. Outputs are scratch files
// (the refresh copies them into the store, flushed there), so they are not
// flushed to disk here (TAtomicFile::SkipFlush): a caller that keeps one as
// it is must copy it through SafeFiles.
//  - GUnZipFile / TGUnZipThread: DestFolder + the output name (see
//    GUnZipFile), only when the outcome is Ok or SetTimeFailed.
//  - UncompressFile: OutFile, only when the result
//    is Ok.
//  - UncompressStream: writes to the caller's device; on failure it holds
//    what was written before the failure was seen.
namespace FileTools {

// Block size of decompressed data the refresh uses for gzip.
inline constexpr std::size_t DefaultBufferSize = std::size_t(1) << 20;

// ---------------------------------------------------------------------------
// gzip header (RFC 1952), read without any I/O so that it can be fuzzed.

// Flag bits of the header's flag byte.
inline constexpr std::uint8_t GzipFlagHeaderCrc = 0x02;
inline constexpr std::uint8_t GzipFlagExtra = 0x04;
inline constexpr std::uint8_t GzipFlagName = 0x08;
inline constexpr std::uint8_t GzipFlagComment = 0x10;

// Longest stored name that is kept; a longer one cannot be a file name here
// and counts as no usable name.
inline constexpr std::size_t MaxStoredNameLength = 255;

struct TGzipHeader {
    std::size_t Length = 0;  // bytes from the start of the file to the deflate data
    std::uint8_t Method = 0; // not tested: raw inflate judges the data
    std::uint8_t Flags = 0;
    std::uint32_t MTime = 0;
    bool HasName = false;     // the name flag was set
    bool NameTooLong = false; // the stored name was longer than MaxStoredNameLength
    std::string StoredName;   // the stored name's bytes (empty when too long)
};

enum class TGzipHeaderStatus {
    Complete, // header read; header.Length bytes belong to it
    NeedMore, // the bytes end inside the header (at end of file: a header cut short)
    NotGzip,  // the first two bytes are not 0x1F 0x8B
};

// Reads the header at the start of a file fed in pieces: the ten fixed bytes,
// then the extra field, the stored name, the comment and the header CRC as the
// flag byte selects (the header CRC is skipped, not checked). A header of any
// length (the name and the comment have none) is read in one pass with
// bounded memory.
class TGzipHeaderReader {
public:
    // Takes the next bytes; returns how many of them belong to the header (all
    // of them while the status stays NeedMore).
    std::size_t Feed(std::string_view bytes);
    TGzipHeaderStatus Status() const { return status_; }
    const TGzipHeader& Header() const { return header_; }

private:
    enum class TPart { Fixed, ExtraLength, Extra, Name, Comment, HeaderCrc, Done };
    // The part after from: each optional one only when its flag is set.
    TPart NextAfter(TPart from) const;
    void Go(TPart step);
    // One of the ten fixed bytes; NotGzip when the magic differs.
    void FeedFixed(std::uint8_t byte);
    // The stored name or the comment: returns the bytes taken, up to its 0.
    std::size_t FeedText(std::string_view bytes);
    TGzipHeaderStatus status_ = TGzipHeaderStatus::NeedMore;
    TPart step_ = TPart::Fixed;
    std::uint8_t fixed_[10] = {};
    std::size_t have_ = 0;        // bytes of the current fixed-size piece
    std::uint32_t remaining_ = 0; // bytes of the extra field still to skip
    TGzipHeader header_;
};

// ---------------------------------------------------------------------------
// gzip decompression.

// Outcome codes. 4 and 6 to 9 are the historical codes; the others are new
// and each means that no output was made.
enum class TGUnZipOutcome : int {
    Ok = 0,
    NoSource = 1,        // source missing or unreadable, or destination folder text empty
    InflateError = 4,    // corrupt or cut-short deflate data, or a header cut short
    CreateFailed = 5,    // the output cannot be created
    SetTimeFailed = 6,   // output complete, but its time or permissions cannot be set
    WriteFailed = 7,     // the output took fewer bytes than offered (disk full)
    NotGzip = 8,         // no gzip magic: no output
    TrailerMismatch = 9, // trailer CRC-32 or size differs from the data
    NameRefused = 10,    // the stored name is not among the accepted names
    TooLarge = 11,       // decompressed output over the size limit
};

struct TGUnZipResult {
    TGUnZipOutcome Outcome = TGUnZipOutcome::NoSource;
    // The output path chosen from the header (empty when none was chosen). The
    // file exists there only when the outcome is Ok or SetTimeFailed.
    QString OutputPath;
    std::uint64_t BytesWritten = 0; // decompressed bytes of the first member
    std::uint32_t Crc = 0;          // CRC-32 of those bytes
};

// Decompresses the first member of the gzip file Source into DestFolder, on
// the calling thread.
//
// Output name: the stored name when the header carries one that is a plain
// file name (SafeFiles::IsPlainFileName, at most MaxStoredNameLength bytes);
// otherwise (none, empty, ".", "..", holding "/", "\" or NUL) the source's
// name with its last extension removed ("download.txt.gz" -> "download.txt").
// When AcceptedNames is not empty, a usable stored name outside it is refused
// (NameRefused, no output): the refresh passes {"download.txt", "Packages"} so
// that an archive can never replace another file of the working folder. The
// name made from the source is always allowed.
//
// On success the output gets the source's modification time and permission
// bits. An output over MaxOutput bytes ends with TooLarge.
TGUnZipResult GUnZipFile(const QString& source, const QString& destFolder,
                         std::size_t bufferSize = DefaultBufferSize,
                         const QStringList& acceptedNames = {},
                         std::uint64_t maxOutput = SafeFiles::MaxIndexSize);

// ---------------------------------------------------------------------------
// bzip2, xz and zstd.

enum class TCompression { Bzip2, Xz, Zstd };

enum class TDecompressStatus {
    Ok,
    InputFailed,  // the input cannot be opened or read
    OutputFailed, // the output cannot be created, written or committed
    DataError,    // the library found the data corrupt (or not of its format)
    Truncated,    // the input ended inside a stream
    TooLarge,     // the output would exceed the size limit
    NoMemory,     // the library could not get (or was refused) the memory it asked for
};

struct TDecompressResult {
    TDecompressStatus Status = TDecompressStatus::Ok;
    int Code = 0;              // the library's own result code when it reported the failure
    std::uint64_t Written = 0; // decompressed bytes handed to the output
    bool Ok() const { return Status == TDecompressStatus::Ok; }
    // "error %d" with the library's code, as the general error report shows a
    // bzip2 failure; a short description for failures that are not the library's.
    QString Text() const;
};

// Decompresses In into Out. Concatenated streams (frames) are read as one,
// and what follows the last one is judged as the command-line tools judge it
// (bzip2 ignores trailing bytes that do not start a stream, xz and zstd
// refuse them). An empty input gives an empty output and Ok. Anything that is
// not a complete, valid stream fails. Streams whose decoder would need more
// than 128 MiB (an xz dictionary, a zstd window) are refused (NoMemory), so
// that memory stays bounded whatever the archive declares.
TDecompressResult UncompressStream(TCompression kind, QIODevice& in, QIODevice& out,
                                   std::uint64_t maxOutput = SafeFiles::MaxIndexSize);

// The same from file InFile to file OutFile (replaced atomically, untouched on
// failure). A bzip2 file of several blocks is decoded on the cores that other
// work leaves idle.
TDecompressResult UncompressFile(TCompression kind, const QString& inFile, const QString& outFile,
                                 std::uint64_t maxOutput = SafeFiles::MaxIndexSize);

} // namespace FileTools

// ---------------------------------------------------------------------------
// Worker threads. TCopyThread owns the thread and hands completion to the
// thread that created the worker (the window's); nothing creates a plain one.
class TCopyThread : public QObject {
    Q_OBJECT
public:
    // Waits for the thread's actual end (the work itself is not interrupted).
    ~TCopyThread() override;

    // Starts a worker created suspended; does nothing once started.
    void Start();

    // Handles the creating thread's events until finished() has been
    // delivered (no spinning: LongOperation::WaitUntil). The worker must have
    // been started.
    void WaitFor();

signals:
    // Emitted on the creating thread after the work has ended.
    void finished();

protected:
    explicit TCopyThread(QObject* parent);
    // The work, run on the worker thread.
    virtual void Execute() = 0;
    // Waits for the thread's end; a derived destructor calls it first, so that
    // Execute never outlives the object it runs on.
    void Join();

private:
    Workers::TWorker thread_;
    bool started_ = false;
    bool terminated_ = false;
};

// The gzip worker: GUnZipFile on its own thread. Creation arguments in the
// historical order (the priority is taken and left alone: a worker of
// Workers runs at the normal one); the worker starts at once unless
// CreateSuspended.
// Typical use on the window's thread:
//   TGUnZipThread worker(src, dir, false, FileTools::DefaultBufferSize);
//   worker.WaitFor();
//   if (worker.Outcome() == FileTools::TGUnZipOutcome::Ok) ... worker.Result().OutputPath
class TGUnZipThread final : public TCopyThread {
    Q_OBJECT
public:
    TGUnZipThread(QString sourceFile, QString destFolder, bool createSuspended,
                  std::size_t bufferSize = FileTools::DefaultBufferSize,
                  QThread::Priority priority = QThread::NormalPriority,
                  QStringList acceptedNames = {}, std::uint64_t maxOutput = SafeFiles::MaxIndexSize,
                  QObject* parent = nullptr);
    ~TGUnZipThread() override;

    // Valid once finished() was delivered.
    FileTools::TGUnZipOutcome Outcome() const { return result_.Outcome; }
    const FileTools::TGUnZipResult& Result() const { return result_; }

protected:
    void Execute() override;

private:
    QString sourceFile_;
    QString destFolder_;
    std::size_t bufferSize_;
    QStringList acceptedNames_;
    std::uint64_t maxOutput_;
    FileTools::TGUnZipResult result_;
};
