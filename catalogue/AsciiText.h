#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
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

// A to Z lowered; every other byte as it is.
constexpr char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline void LowerInPlace(std::string& s) {
    for (char& c : s)
        c = Lower(c);
}

// Equal with A to Z matching a to z.
inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    if (std::memcmp(a.data(), b.data(), a.size()) == 0)
        return true;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    return true;
}

// True when text begins with lowerPrefix (all lower case already), text's
// ASCII letters lowered first. Called for every line of an index, so it
// lowers one side only and stops at the first difference.
inline bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    if (text.size() < lowerPrefix.size())
        return false;
    for (std::size_t i = 0; i < lowerPrefix.size(); ++i)
        if (Lower(text[i]) != lowerPrefix[i])
            return false;
    return true;
}

inline bool EndsWithNoCase(std::string_view text, std::string_view lowerSuffix) {
    return text.size() >= lowerSuffix.size() &&
           StartsWithNoCase(text.substr(text.size() - lowerSuffix.size()), lowerSuffix);
}

// Replaces every non-overlapping occurrence of from, left to right, without
// looking again at what was put in.
inline void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
    std::size_t pos = s.find(from);
    if (pos == std::string::npos)
        return;
    std::string out;
    out.reserve(s.size());
    std::size_t last = 0;
    while (pos != std::string::npos) {
        out.append(s, last, pos - last);
        out.append(to);
        last = pos + from.size();
        pos = s.find(from, last);
    }
    out.append(s, last, std::string::npos);
    s.swap(out);
}

// A quick hash of short texts (names, identifiers, versions), eight bytes at
// a time, well mixed in every bit. With FoldCase bit 0x20 of every byte is set
// first, so that ASCII letters hash alike in either case (some other bytes
// merge too, which only costs a rare extra comparison).
inline std::uint64_t Hash(std::string_view text, bool foldCase = false) {
    constexpr std::uint64_t Golden = 0x9E3779B97F4A7C15ull;
    const std::uint64_t fold = foldCase ? 0x2020202020202020ull : 0;
    std::uint64_t h = text.size();
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        h = (h ^ (word | fold)) * Golden;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    if (const std::size_t rest = text.size() - i; rest > 0) {
        std::memcpy(&tail, text.data() + i, rest);
        tail |= fold >> (8 * (8 - rest)); // only the bytes of the text
    }
    h = (h ^ tail) * Golden;
    return h ^ (h >> 32);
}

} // namespace AsciiText
