#pragma once

#include <QString>

#include <string_view>

namespace Utf8Text {

// UTF-8 bytes as text, every character kept. QString::fromUtf8 drops a
// leading U+FEFF as a byte order mark; for a name read from a file or a
// listing that would make another name, one that may not exist or may be a
// different file. Bytes that are not UTF-8 become U+FFFD as usual.
QString Decode(std::string_view bytes);

} // namespace Utf8Text
