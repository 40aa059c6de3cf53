#pragma once

// The one rule for names that arrive from outside (a repository, an archive,
// the phone's listings, the program) and become file names on either side:
// plain C++ without Qt, so that the phone plugin takes it too.

#include <string_view>

namespace FileNames {

// True when Name can stand for one entry of one folder, also in a local path:
// not empty, not "." or "..", and without "/", "\" or NUL.
bool IsPlainFileName(std::string_view name);

// True when Text is well-formed UTF-8: no stray or missing continuation bytes,
// no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view text);

// Why a name must not become a local file name, in the order checked: it is
// no plain file name; it holds a control character (a line break or tab would
// break the line-based files it ends up in, an escape would reach the
// terminal); it is not UTF-8 (so it would not name the same file each time it
// is turned into a path and back).
enum class TNameFault { None, NotPlain, ControlCharacter, NotUtf8 };
TNameFault NameFault(std::string_view name);

} // namespace FileNames
