#include "catalogue/Browse.h"

#include "base/TextFile.h"
#include "catalogue/AsciiText.h"

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Browse {

namespace {

constexpr std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i - 'A' + 'a' : i);
    return table;
}

constexpr std::array<unsigned char, 256> LowerTable = MakeLowerTable();

using AsciiText::Trim;

// Whether the lowered needle occurs in the haystack with its ASCII letters
// lowered, without making a lowered copy of the haystack: the search list is
// scanned on every click, so it must not allocate per row. Candidates for the
// first byte are found sixteen at a time; for a letter, setting bit 0x20 maps
// both of its cases (and only those) onto the lower one.
bool ContainsFolded(std::string_view haystack, std::string_view needle) {
    if (needle.empty())
        return true;
    if (needle.size() > haystack.size())
        return false;
    const auto* h = reinterpret_cast<const unsigned char*>(haystack.data());
    const auto* n = reinterpret_cast<const unsigned char*>(needle.data());
    const std::size_t m = needle.size();
    const std::size_t positions = haystack.size() - m + 1;
    const unsigned char first = n[0];
    const unsigned char fold = (first >= 'a' && first <= 'z') ? 0x20 : 0x00;
    auto restMatches = [&](std::size_t i) {
        for (std::size_t k = 1; k < m; ++k)
            if (LowerTable[h[i + k]] != n[k])
                return false;
        return true;
    };
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i foldBits = _mm_set1_epi8(static_cast<char>(fold));
    const __m128i wanted = _mm_set1_epi8(static_cast<char>(first));
    for (; i + 16 <= positions; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + i));
        auto hits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(block, foldBits), wanted)));
        while (hits != 0) {
            if (restMatches(i + static_cast<std::size_t>(__builtin_ctz(hits))))
                return true;
            hits &= hits - 1;
        }
    }
#endif
    for (; i < positions; ++i)
        if ((h[i] | fold) == first && restMatches(i))
            return true;
    return false;
}

bool EqualsFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerTable[static_cast<unsigned char>(a[i])] !=
            LowerTable[static_cast<unsigned char>(b[i])])
            return false;
    return true;
}

bool IsAscii(std::string_view text) {
    const char* p = text.data();
    std::size_t left = text.size();
    std::uint64_t any = 0;
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        any |= word;
    }
    for (; left > 0; ++p, --left)
        any |= static_cast<unsigned char>(*p);
    return (any & 0x8080808080808080ull) == 0;
}

// The code point of the well-formed UTF-8 sequence at text[i] and its length,
// or length 0 when the byte there starts none.
std::size_t DecodeAt(std::string_view text, std::size_t i, char32_t& cp) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + i;
    const std::size_t left = text.size() - i;
    std::size_t length;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        length = 2;
        cp = p[0] & 0x1F;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        length = 3;
        cp = p[0] & 0x0F;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        length = 4;
        cp = p[0] & 0x07;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((p[k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[k] & 0x3F);
    }
    if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    return length;
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Text with simple Unicode case folding applied to every well-formed UTF-8
// sequence; any other byte (index values are bytes of any encoding) is kept.
void FoldInto(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(LowerTable[c]));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t length = DecodeAt(text, i, cp);
        if (length == 0) {
            out.push_back(text[i]);
            ++i;
            continue;
        }
        AppendUtf8(QChar::toCaseFolded(cp), out);
        i += length;
    }
}

// An ASCII needle is looked for in place, its letters matching either case of
// the text's ASCII letters: the search runs on every click over every row and
// must not fold a copy of each. Of the letters beyond ASCII only two fold into
// ASCII (KELVIN SIGN into "k", LONG S into "s"); they are left out of that
// match. Any other needle is looked for in the folded text.
bool InFolded(std::string_view text, std::string_view needle) {
    // Kept from call to call, so a search allocates nothing per row.
    thread_local std::string folded;
    FoldInto(text, folded);
    return folded.find(needle) != std::string::npos;
}

bool FieldMatches(std::string_view text, std::string_view needle, bool asciiNeedle) {
    if (asciiNeedle)
        return ContainsFolded(text, needle);
    return !IsAscii(text) && InFolded(text, needle);
}

} // namespace

std::string PrepareNeedle(std::string_view searchText) {
    std::string needle;
    FoldInto(Trim(searchText), needle);
    return needle;
}

namespace {

constexpr std::size_t PrefetchAhead = 8;

void Prefetch(const TPackageRow& row) {
    __builtin_prefetch(row.Caption().data());
    __builtin_prefetch(row.Description().data());
    __builtin_prefetch(row.Package().data());
}

bool Matches(const TPackageRow& row, std::string_view needle, bool asciiNeedle) {
    return FieldMatches(Trim(row.Caption()), needle, asciiNeedle) ||
           FieldMatches(Trim(row.Description()), needle, asciiNeedle) ||
           FieldMatches(Trim(row.Package()), needle, asciiNeedle);
}

} // namespace

bool RowMatches(const TPackageRow& row, std::string_view needle) {
    return Matches(row, needle, IsAscii(needle));
}

TSearchStep FindNext(const TPackageRows& rows, int selected, std::string_view searchText) {
    TSearchStep step;
    step.Row = selected;
    if (rows.empty())
        return step;
    const std::string needle = PrepareNeedle(searchText);
    if (needle.empty())
        return step;
    step.Searched = true;
    const bool asciiNeedle = IsAscii(needle);

    // A selection beyond the end (the list shrank under it) examines no rows
    // and wraps at once, like a selection on the last row.
    const std::size_t start = selected < 0 ? 0 : static_cast<std::size_t>(selected) + 1;
    for (std::size_t i = start; i < rows.size(); ++i) {
        // The texts of the rows lie all over the heap: asking for those of a
        // row further on lets the waits for memory overlap.
        if (i + PrefetchAhead < rows.size())
            Prefetch(rows[i + PrefetchAhead]);
        if (Matches(rows[i], needle, asciiNeedle)) {
            step.Row = static_cast<int>(i);
            return step;
        }
    }
    step.Row = Matches(rows[0], needle, asciiNeedle) ? 0 : -1;
    return step;
}

int FindIdentifier(const TPackageRows& rows, std::string_view text) {
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Package() == text)
            return static_cast<int>(i);
    return -1;
}

int BackTarget(int backPosition, std::size_t rowCount) {
    if (backPosition < 0 || static_cast<std::size_t>(backPosition) >= rowCount)
        return -1;
    return backPosition;
}

int FindCategory(const std::vector<std::string>& entries, std::string_view text) {
    if (text.empty())
        return -1;
    // Sections are index bytes: letters beyond ASCII are folded only where the
    // text really is UTF-8, so two different broken sections never meet through
    // the replacement character.
    const bool textIsUtf8 = TextFile::IsValidUtf8(text);
    const QString wanted = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        if (EqualsFolded(entry, text))
            return static_cast<int>(i);
        if (textIsUtf8 && TextFile::IsValidUtf8(entry) &&
            QString::fromUtf8(entry.data(), static_cast<qsizetype>(entry.size()))
                    .compare(wanted, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace Browse
