#pragma once

#include <string_view>

// Byte-level text helpers for index values, which are bytes of any encoding:
// only ASCII is ever touched, so UTF-8 sequences pass through unchanged.
namespace AsciiText {

// Blanks and control characters (every byte up to the space).
constexpr bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// Text without blanks and control characters at both ends.
constexpr std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlankOrControl(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlankOrControl(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace AsciiText
