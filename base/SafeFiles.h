#pragma once

#include "common/FileNames.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The one file layer of the program. Everything it reads may come from a
// repository, the phone or a hand edit, and everything it writes must never be
// left half-written in place of a good file.
namespace SafeFiles {

// Size limits of what is read whole into memory.
inline constexpr std::size_t MaxSettingsSize = std::size_t(1) << 20; // the settings file
inline constexpr std::size_t MaxTextSize = std::size_t(256) << 20;   // the saved list
// The limits of one index, the same wherever it is met: a transfer, a
// decompression, the store, a reference copy or a copy from the phone. An
// index beyond them is refused at the refresh and skipped (with its reason)
// at load, so the catalogue's memory stays bounded whatever the folders hold.
// The largest real indexes are tens of MB and tens of thousands of stanzas.
inline constexpr std::uint64_t MaxIndexSize = std::uint64_t(128) << 20;
// Stanzas with a "Package:" line in one index.
inline constexpr std::uint64_t MaxIndexStanzas = 250'000;
// Rows of the whole catalogue: indexes past it are skipped at load.
inline constexpr std::uint64_t MaxCatalogueRows = 500'000;
// A package whose index gives no size stops at this many bytes; one whose
// index gives a size stops at that size, and never past this.
inline constexpr std::uint64_t MaxPackageSize = std::uint64_t(1) << 30;

// Reads a whole regular file of at most limit bytes. The open never blocks
// (a FIFO fails at once) and anything but a regular file (a folder, a device,
// a symbolic link) is refused. Reason, when given, gets why it failed.
bool ReadAll(const QString& path, std::size_t limit, std::string& out, QString* reason = nullptr);

// The same, telling a missing file (nothing at path) from one that is there but
// cannot be read: a settings file that is missing starts empty, one that cannot
// be read must not be overwritten. Out is empty unless the result is Ok. A
// buffer passed in again keeps its memory, so reading many files costs no
// allocation per file.
enum class TReadResult { Ok, Missing, Failed };
TReadResult Read(const QString& path, std::size_t limit, std::string& out,
                 QString* reason = nullptr);

// A regular file read in pieces (an index walked a stanza run at a time, so
// that no buffer the size of the file is made), opened and checked as Read
// opens and checks it.
class TReadFile {
public:
    TReadFile() = default;
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    TReadResult Open(const QString& path, std::uint64_t limit, QString* reason = nullptr);
    // The size the file had when it was opened.
    std::uint64_t Size() const { return size_; }
    int Descriptor() const { return fd_; }
    // Up to Bytes bytes into Data: how many, 0 at the end, -1 on failure.
    std::ptrdiff_t Read(char* data, std::size_t bytes, QString* reason = nullptr);

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Replaces the file at path with data: written in full to a temporary file in
// the same folder, flushed to disk and renamed over path. The replaced file's
// permissions are kept (0644 for a new file). On failure nothing at path
// changes and no temporary file is left.
bool ReplaceAtomically(const QString& path, std::string_view data, QString* reason = nullptr);

// The same for data that arrives in pieces (a decompressed index, a package):
// Open, Write as often as needed, then Commit. Until Commit the target is
// untouched; Abort, a failed Commit or the destructor removes the temporary file.
class TAtomicFile {
public:
    explicit TAtomicFile(QString target);
    ~TAtomicFile();
    TAtomicFile(const TAtomicFile&) = delete;
    TAtomicFile& operator=(const TAtomicFile&) = delete;

    bool Open();
    bool Write(const void* data, std::size_t size);
    bool Commit();
    void Abort();
    // For a scratch file that is copied again before it is kept (a
    // decompressed index on its way into the store): Commit still replaces
    // the target in one step, but does not wait for the disk.
    void SkipFlush() { flush_ = false; }
    // Waits for the disk now, so that a Commit later (on another thread,
    // say) only replaces the target. After SkipFlush too: a file that is
    // renamed again later needs its bytes on disk, not its scratch folder.
    bool Flush();
    // Sends the whole megabytes written so far on their way to the disk
    // without waiting for them, so that the flush of a long file written in
    // pieces overlaps the making of the pieces after them.
    void StartFlush();

    std::uint64_t Written() const { return written_; }
    const QString& ErrorString() const { return error_; }

private:
    QString target_;
    QByteArray temp_; // the temporary file's path as the system spells it
    int fd_ = -1;
    std::uint64_t written_ = 0;
    std::uint64_t flushStarted_ = 0;
    bool failed_ = false;
    bool flush_ = true;
    bool flushed_ = false;
    QString error_;
};

// Names that arrive from a server, an archive or the phone are used in a local
// path only when they are plain file names (the rule the phone plugin shares).
using FileNames::IsPlainFileName;

// Why a name from outside (the phone, a repository) must not become a local
// file name (FileNames::NameFault), or empty when it may.
QString UnsafeNameReason(std::string_view name);

// A name from outside as it may be shown or written to stderr: every control
// character as "\xNN", bytes that are not UTF-8 as U+FFFD.
QString PrintableName(std::string_view name);

// Name inside folder, with exactly one "/" between them.
QString InFolder(const QString& folder, const QString& name);

// The system's text for an errno value.
QString ErrnoText(int err);

} // namespace SafeFiles
