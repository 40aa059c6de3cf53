#pragma once

#include "common/FileNames.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Walking the program's text files line by line: package indexes, their
// reference copies and the saved package list. Their bytes come from
// repositories, the phone and hand edits, so nothing here trusts them. Reading
// and writing the files themselves is the file layer's (base/SafeFiles.h).
namespace TextFile {

// Finds the CR and LF bytes of a text in order. Lines are short, so a search
// per line end would spend more on starting the search than on the bytes:
// the finder looks at 64 bytes at a time and keeps their line ends as a bit
// mask, which answers the following searches in that stretch without
// touching the text again.
class TLineEnds {
public:
    explicit TLineEnds(std::string_view text) : text_(text) {}

    // The position of the first CR or LF at or after From, or the text's size
    // when there is none. Calls with rising From reuse the mask; going back
    // works but reloads it.
    std::size_t Next(std::size_t from) {
        for (;;) {
            if (from - base_ < covered_) {
                if (const std::uint64_t m = mask_ >> (from - base_))
                    return from + static_cast<std::size_t>(__builtin_ctzll(m));
                from = base_ + covered_;
            }
            if (from >= text_.size())
                return text_.size();
            Load(from);
        }
    }

private:
    void Load(std::size_t from);

    std::string_view text_;
    std::size_t base_ = 0;    // where the stretch in the mask starts
    std::size_t covered_ = 0; // its length: 64, less at the end of the text
    std::uint64_t mask_ = 0;  // bit k: the byte at base_ + k is CR or LF
};

// Walks a buffer line by line the way index files and the saved package list are
// read: a line ends at LF or CR LF, a CR not followed by LF is dropped from the
// line, and a byte 0x1A ends the text. A last line without a line end still
// counts; a text that ends with a line end has no empty line after it.
class TIndexLines {
public:
    explicit TIndexLines(std::string_view text);

    // Gives the next line; false at the end. The view stays valid until the
    // next call (it may point into the reader's own buffer).
    bool Next(std::string_view& line);
    bool AtEnd() const { return pos_ >= text_.size(); }
    // Where the next line starts in the text given.
    std::size_t Position() const { return pos_; }
    // The length of the text the lines come from: up to a byte 0x1A.
    std::size_t Size() const { return text_.size(); }

private:
    std::string_view text_;
    TLineEnds ends_;
    std::size_t pos_ = 0;
    std::string scratch_;
};

// Counts the stanzas of an index that make a row, over its bytes given in
// pieces (a file read block by block): the stanzas with a line that begins
// with "Package:", lines and stanzas as TIndexLines and the index reader see
// them. The refresh and the load count alike, so an index the refresh stores
// is never one the load skips.
class TStanzaCounter {
public:
    void Feed(std::string_view piece);
    // The stanzas so far, the last one included even without its blank line.
    std::uint64_t Count() const { return count_ + (package_ ? 1 : 0); }

private:
    std::uint64_t count_ = 0;
    bool ended_ = false;   // a byte 0x1A ended the text
    bool package_ = false; // the current stanza has a Package line
    bool decided_ = false; // the current line's start was judged
    std::size_t seen_ = 0; // bytes of the current line other than CR, up to 8
    char start_[8] = {};
};

// Walks a buffer line by line with CR, LF or CR LF as line ends (the way the
// reference copies and the saved list's line edits read a file). A last line
// without a line end still counts; a trailing line end gives no empty line after
// it. Views point into the text.
class TAnyLines {
public:
    explicit TAnyLines(std::string_view text) : text_(text), ends_(text) {}
    bool Next(std::string_view& line);

private:
    std::string_view text_;
    TLineEnds ends_;
    std::size_t pos_ = 0;
};

// Splits a text into lines with CR, LF or CR LF as line ends (the way the
// reference copies are read). Views point into text.
std::vector<std::string_view> SplitAnyLineEnds(std::string_view text);

// Splits a text into the lines TIndexLines finds (LF or CR LF ends a line), a
// CR not followed by LF kept inside its line, so that an edit of the saved
// list sees the same lines as its reader. Views point into text.
std::vector<std::string_view> SplitIndexLines(std::string_view text);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing
// beyond U+10FFFF): the rule names of files follow too, so there is one.
inline bool IsValidUtf8(std::string_view text) {
    return FileNames::IsUtf8(text);
}

// Cuts text to at most maxBytes. When the cut falls inside a UTF-8 sequence the
// partial sequence is dropped too, so valid UTF-8 stays valid.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

} // namespace TextFile
