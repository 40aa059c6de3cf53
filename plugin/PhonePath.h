#pragma once

// Checking the paths and names that come from outside the plugin (the program,
// a settings file, the phone's own listings) before they reach a transport.

#include "common/FileNames.h"

#include <optional>
#include <string>
#include <string_view>

namespace Tpot {

// A name that may stand for one entry of one folder, also in a local path: the
// rule the program keeps for its own file names.
using FileNames::IsPlainFileName;

// Turns an absolute "/"-separated phone path into the canonical form the
// transports take: "/" and then plain names separated by single "/", with
// empty and "." segments dropped. Returns nothing for a relative path, a ".."
// segment or a segment that is not a plain name, since such a path could leave
// the phone's root or name something the phone never listed.
std::optional<std::string> NormalisePhonePath(std::string_view path);

// Prefix + Path for two canonical paths ("/" + "/a" = "/a", "/var/jb" + "/" =
// "/var/jb").
std::string JoinPhonePath(const std::string& prefix, const std::string& path);

// The last segment of a canonical path ("" for "/").
std::string LastSegment(const std::string& path);

// The folder of a canonical path ("/" for "/a" and for "/").
std::string ParentPath(const std::string& path);

} // namespace Tpot
