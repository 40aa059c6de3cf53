#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Where the stanzas of the package indexes lie, so that a details lookup reads
// the stanzas of its identifier instead of the whole index. An index is
// scanned from its start only as far as a lookup needs; where each
// "package:" line's stanza starts is kept for the next lookups, for as long
// as the file stays the same one (device, inode, size and change time).
// Lines and stanzas are the ones TextFile::TIndexLines sees.
namespace StanzaOffsets {

// An index is read in pieces of this size, into a buffer each thread keeps.
inline constexpr std::size_t PieceBytes = std::size_t(128) << 10;

// Hands IsWanted, in file order, the text of each stanza of the open index Fd
// (at Path) with a "package:" line whose value may be Package (its start up
// to and including the empty line that ends it), until one answer is yes;
// true then. When none is, Tail gets the text of a last stanza that no empty
// line ended (empty when there is none). False, with an empty Tail, for
// anything but a regular file within the size the program reads.
// Offsets kept from earlier lookups that lead to nothing are made again from
// the file: an edit in place that keeps the size within one tick of the clock
// leaves the file looking the same, and must not hide a stanza.
bool FindStanza(int fd, const std::string& path, std::string_view package,
                const std::function<bool(std::string_view)>& isWanted, std::string& tail);

// Scans the whole of the open index Fd (at Path) into its table at once, so
// that every later lookup in it reads only the stanzas of its identifier.
void Learn(int fd, const std::string& path);

} // namespace StanzaOffsets
