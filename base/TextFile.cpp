#include "base/TextFile.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace TextFile {

void TStanzaCounter::Feed(std::string_view piece) {
    if (ended_ || piece.empty())
        return;
    if (const void* eof = std::memchr(piece.data(), 0x1A, piece.size())) {
        piece = piece.substr(0, std::size_t(static_cast<const char*>(eof) - piece.data()));
        ended_ = true;
    }
    constexpr std::string_view Key = "Package:";
    std::size_t i = 0;
    while (i < piece.size()) {
        if (decided_) {
            // The rest of a line that is not empty only has to be skipped.
            const void* lf = std::memchr(piece.data() + i, '\n', piece.size() - i);
            if (!lf)
                return;
            i = std::size_t(static_cast<const char*>(lf) - piece.data()) + 1;
            decided_ = false;
            seen_ = 0;
            continue;
        }
        const char c = piece[i++];
        if (c == '\n') {
            // A line of nothing but CRs is empty: it ends the stanza.
            if (seen_ == 0 && package_) {
                ++count_;
                package_ = false;
            }
            seen_ = 0;
            continue;
        }
        if (c == '\r')
            continue;
        start_[seen_++] = c;
        if (start_[seen_ - 1] != Key[seen_ - 1] || seen_ == Key.size()) {
            package_ = package_ || std::string_view(start_, seen_) == Key;
            decided_ = true;
        }
    }
}

void TLineEnds::Load(std::size_t from) {
    base_ = from;
    const char* p = text_.data() + from;
    const std::size_t left = text_.size() - from;
    std::uint64_t m = 0;
#if defined(__SSE2__)
    if (left >= 64) {
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i cr = _mm_set1_epi8('\r');
        for (int k = 0; k < 4; ++k) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
            const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr));
            m |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(hit))) << (16 * k);
        }
        covered_ = 64;
        mask_ = m;
        return;
    }
#endif
    covered_ = left < 64 ? left : 64;
    for (std::size_t k = 0; k < covered_; ++k)
        if (p[k] == '\n' || p[k] == '\r')
            m |= std::uint64_t(1) << k;
    mask_ = m;
}

namespace {

std::string_view BeforeEndOfText(std::string_view text) {
    if (text.empty()) // an empty view may have no address, which memchr must not get
        return text;
    if (const void* eof = std::memchr(text.data(), 0x1A, text.size()))
        return text.substr(0,
                           static_cast<std::size_t>(static_cast<const char*>(eof) - text.data()));
    return text;
}

} // namespace

TIndexLines::TIndexLines(std::string_view text) : text_(BeforeEndOfText(text)), ends_(text_) {}

bool TIndexLines::Next(std::string_view& line) {
    const std::size_t n = text_.size();
    if (pos_ >= n)
        return false;
    const std::size_t start = pos_;
    std::size_t end = ends_.Next(start);
    if (end == n || text_[end] == '\n') {
        line = text_.substr(start, end - start);
        pos_ = end == n ? n : end + 1;
        return true;
    }
    // A CR: CR LF ends the line and leaves a view into the text; any other CR
    // is dropped, which takes a copy.
    if (end + 1 < n && text_[end + 1] == '\n') {
        line = text_.substr(start, end - start);
        pos_ = end + 2;
        return true;
    }
    scratch_.assign(text_.substr(start, end - start));
    for (;;) {
        const std::size_t from = end + 1;
        end = ends_.Next(from);
        scratch_.append(text_.substr(from, end - from));
        if (end == n || text_[end] == '\n') {
            pos_ = end == n ? n : end + 1;
            break;
        }
    }
    line = scratch_;
    return true;
}

bool TAnyLines::Next(std::string_view& line) {
    const std::size_t n = text_.size();
    if (pos_ >= n)
        return false;
    const std::size_t end = ends_.Next(pos_);
    line = text_.substr(pos_, end - pos_);
    if (end >= n)
        pos_ = n;
    else if (text_[end] == '\r' && end + 1 < n && text_[end + 1] == '\n')
        pos_ = end + 2;
    else
        pos_ = end + 1;
    return true;
}

std::vector<std::string_view> SplitAnyLineEnds(std::string_view text) {
    std::vector<std::string_view> lines;
    TAnyLines reader(text);
    std::string_view line;
    while (reader.Next(line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string_view> SplitIndexLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        const std::size_t end = lf > pos && text[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back(text.substr(pos, end - pos));
        pos = lf + 1;
    }
    return lines;
}

namespace {

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Length of the sequence a lead byte starts, or 0 for a byte that starts none.
std::size_t SequenceLength(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0xC2 && u <= 0xDF)
        return 2;
    if (u >= 0xE0 && u <= 0xEF)
        return 3;
    if (u >= 0xF0 && u <= 0xF4)
        return 4;
    return 0;
}

} // namespace

std::string_view CutUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    if (maxBytes == 0 || !IsContinuation(text[maxBytes]))
        return text.substr(0, maxBytes);
    // The first byte left out continues something: find the lead byte at most
    // three places back and drop its sequence when it reaches past the cut. A
    // stray continuation byte is no sequence and is cut like any other byte.
    std::size_t lead = maxBytes - 1;
    while (lead > 0 && maxBytes - lead < 3 && IsContinuation(text[lead]))
        --lead;
    const std::size_t length = SequenceLength(text[lead]);
    if (length != 0 && lead + length > maxBytes)
        return text.substr(0, lead);
    return text.substr(0, maxBytes);
}

} // namespace TextFile
