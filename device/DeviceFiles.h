#pragma once

#include <QString>

#include <cstddef>
#include <string_view>

// Local file steps of the phone copies: names that may become local paths,
// and whole-file copies into and out of the staged files.
namespace DeviceFiles {

// A package read whole to be staged may be at most this large.
inline constexpr std::size_t MaxPackageSize = std::size_t(1) << 31;

// True when a name that came from the phone may be used as a file name in a
// local folder: a plain file name (not empty, ".", "..", no "/", "\" or NUL)
// that is valid UTF-8, so it names the same file every time it is turned
// into a path.
bool IsUsableName(std::string_view name);

// Copies Source over Target, replacing it: Target gets the whole of Source or
// stays as it was. At most Limit bytes are read.
bool CopyWhole(const QString& source, const QString& target, std::size_t limit);

// Places Source at the staged path Staged for a send to the phone. A staged
// file already there is removed first, so when the copy fails nothing is
// left to be sent in its place.
bool Stage(const QString& source, const QString& staged, std::size_t limit);

// Removes a file (or link); false when it is still there.
bool Remove(const QString& path);

} // namespace DeviceFiles
