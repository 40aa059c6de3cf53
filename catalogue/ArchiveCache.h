#pragma once

#include "base/Outcome.h"

#include <QCryptographicHash>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The local package cache: the one rule for the name a package file has there
// (the loader's downloaded badge, the details and the download all use it, so
// that they agree), and storing a downloaded file there only when it is the
// file its index describes.
namespace ArchiveCache {

// True when a "Filename:" value is a whole "http://" or "https://" address
// (scheme in any letter case, blanks at the ends ignored): such a value is the
// download address as it stands, not a path below the source.
bool IsAbsoluteAddress(std::string_view filenameValue);

// The local file name from a "Filename:" value (the text after "Filename: ").
// A relative value: blanks and control characters trimmed at both ends, every
// "./" removed, then the text after the last "/", "\" or ":".
// "./debs/foo_1.0_iphoneos-arm.deb" gives "foo_1.0_iphoneos-arm.deb". An
// absolute address: its last path segment without "?query" or "#fragment".
// The result may be unusable (empty, "..": see IsUsableName).
void LocalFileNameInto(std::string_view filenameValue, std::string& name);
std::string LocalFileName(std::string_view filenameValue);

// True when Name may be written into the cache folder and given to the phone:
// a plain file name (never ".", "..", a separator or NUL, so that it cannot
// leave the folder), valid UTF-8, without control characters, and not shaped
// like the cache's own temporary files (".name.XXXXXX"), which start-up
// removes.
bool IsUsableName(std::string_view name);
// Why Name is not usable; empty when it is.
QString UnusableNameReason(std::string_view name);

// What the index says the file must be. The strongest hash the stanza carries
// is checked ("SHA256:", else "SHA1:", else "MD5sum:"); the size is checked when
// "Size:" is a whole number.
struct TExpected {
    enum class THash { None, Md5, Sha1, Sha256 };
    bool HasSize = false;
    std::uint64_t Size = 0;
    THash Hash = THash::None;
    std::string Digest; // lower-case hex as the index gave it; may be malformed
};

// From the size text (as the details show it) and the three hash values of
// the stanza (empty when absent).
TExpected ExpectedFrom(std::string_view sizeText, std::string_view sha256, std::string_view sha1,
                       std::string_view md5);

// A whole number of bytes: decimal digits only (blanks at the ends ignored),
// fitting 64 bits.
bool ParseSize(std::string_view text, std::uint64_t& size);

enum class TStoreResult {
    Stored,   // the file is in the cache under its name
    Mismatch, // size or hash differ: nothing was written
    Failed,   // the file could not be read or the cache not written: nothing changed
};

// Copies Scratch to ArchivesDir + Name, replacing a file there, through a
// temporary file in ArchivesDir renamed into place only when the size and the
// hash match. The hash is computed in the same pass that copies, so the file
// is read once. An unusable Name fails without writing anything.
TStoreResult Store(const QString& scratch, const QString& archivesDir, const std::string& name,
                   const TExpected& expected);

// The hash Expected is checked with; none when it names no hash.
std::optional<QCryptographicHash::Algorithm> HashOf(const TExpected& expected);

// Moves Scratch, a file already on disk whose bytes were hashed
// (Digest: lower-case hex, with HashOf(Expected); see FlushScratch), into ArchivesDir
// under Name in one rename, replacing a file there, when its size and Digest
// match; the replaced file's permissions are kept. The rename never leaves
// ArchivesDir, whatever lies at Name. A mismatch or a failure leaves Scratch
// and the cache as they were; a Scratch on another file system is copied
// (Store) instead. Scratch's bytes must be on the disk already
// (FlushScratch), so that a crash leaves the new file or the old one whole.
TStoreResult Move(const QString& scratch, const std::string& digest, const QString& archivesDir,
                  const std::string& name, const TExpected& expected);

// Hashes Scratch with HashOf(Expected) (Digest: lower-case hex; empty when
// Expected names no hash) and waits until its bytes are on the disk.
TOutcome FlushScratch(const QString& scratch, const TExpected& expected, std::string& digest);

// Writes the renames Move made in ArchivesDir to the disk. Until then a crash
// may undo some of them: the old file, or none, is then there, whole.
void FlushFolder(const QString& archivesDir);

} // namespace ArchiveCache
