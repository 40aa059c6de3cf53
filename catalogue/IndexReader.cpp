#include "catalogue/IndexReader.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/AsciiText.h"
#include "catalogue/HugePages.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace IndexReader {
namespace {

using AsciiText::ReplaceAll;

constexpr std::size_t MaxValueBytes = 256;

// A remembered field line. Most lines point into the file's text; a line that
// had lone CRs removed lives in the reader's scratch buffer and is copied.
class TFieldLine {
public:
    void Clear() { set_ = false; }
    void Set(std::string_view line, std::string_view text) {
        set_ = true;
        if (line.data() >= text.data() && line.data() + line.size() <= text.data() + text.size()) {
            view_ = line;
        } else {
            own_.assign(line);
            view_ = own_;
        }
    }
    bool IsSet() const { return set_; }
    std::string_view Line() const { return set_ ? view_ : std::string_view(); }

private:
    bool set_ = false;
    std::string_view view_;
    std::string own_;
};

// The value of a field line: from the second character after the colon (the
// field name is followed by exactly one blank), cut to 256 bytes.
std::string_view RawValue(std::string_view line, std::size_t start) {
    if (line.size() <= start)
        return {};
    return line.substr(start, MaxValueBytes);
}

// A value shown as text: cut without splitting a UTF-8 sequence, then empty
// unless it is valid UTF-8.
std::string_view DecodedValue(std::string_view line, std::size_t start) {
    if (line.size() <= start)
        return {};
    const std::string_view cut = TextFile::CutUtf8(line.substr(start), MaxValueBytes);
    return TextFile::IsValidUtf8(cut) ? cut : std::string_view();
}

// The local file name: every "Filename: " removed, then the package cache's
// one rule for a "Filename:" value, so that the downloaded badge agrees with
// the name the download stores.
void LocalFileNameInto(std::string_view line, std::string& name) {
    constexpr std::string_view Key = "Filename: ";
    std::string slow;
    std::string_view s = line;
    if (s.starts_with(Key) && s.find(Key, Key.size()) == std::string_view::npos) {
        s.remove_prefix(Key.size());
    } else if (s.find(Key) != std::string_view::npos) {
        slow.assign(line);
        ReplaceAll(slow, Key, "");
        s = slow;
    }
    ArchiveCache::LocalFileNameInto(s, name);
}

// The rows of one index by identifier, version and architecture, so that an
// index repeating a stanza gives one row. One flat table of row numbers: no
// allocation per row, and a row's texts are compared only when the hashes of
// the three values agree.
class TRowSet {
public:
    // Memory is what the table uses, kept from an earlier index.
    TRowSet(std::size_t expected, std::vector<TRowSlot>& memory) : slots_(memory) {
        std::size_t size = 64;
        while (size < expected * 2)
            size *= 2;
        HugePages::Reserve(slots_, size);
        slots_.assign(size, TRowSlot{});
    }

    // Asks for the place a row of that hash goes to, ahead of InsertLast.
    void Prefetch(std::uint64_t hash) const {
        __builtin_prefetch(&slots_[(hash >> 32) & (slots_.size() - 1)]);
    }

    // True when Rows has no row with the values of Rows.back() (whose hash
    // is Hash) before it; the row is then remembered. The top half of the
    // hash picks the place and is kept in it.
    bool InsertLast(const TPackageRows& rows, std::uint64_t hash) {
        const TPackageRow& row = rows.back();
        if ((used_ + 1) * 2 > slots_.size())
            Grow();
        const auto tag = static_cast<std::uint32_t>(hash >> 32);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
            TRowSlot& slot = slots_[i];
            if (slot.Row == Empty) {
                slot = {tag, static_cast<std::uint32_t>(rows.size() - 1)};
                ++used_;
                return true;
            }
            if (slot.Tag == tag && Same(rows[slot.Row], row))
                return false;
        }
    }

    static std::uint64_t HashOf(const TPackageRow& row) {
        std::uint64_t v = AsciiText::Hash(row.Package());
        v = (v ^ AsciiText::Hash(row.Version())) * 0x9E3779B97F4A7C15ull;
        v = (v ^ AsciiText::Hash(row.Architecture.View())) * 0x9E3779B97F4A7C15ull;
        return v ^ (v >> 29);
    }

private:
    static constexpr std::uint32_t Empty = TRowSlot().Row;

    static bool Same(const TPackageRow& a, const TPackageRow& b) {
        return a.Package() == b.Package() && a.Version() == b.Version() &&
               a.Architecture == b.Architecture;
    }
    void Grow() {
        std::vector<TRowSlot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const TRowSlot& slot : old) {
            if (slot.Row == Empty)
                continue;
            std::size_t i = slot.Tag & mask;
            while (slots_[i].Row != Empty)
                i = (i + 1) & mask;
            slots_[i] = slot;
        }
    }

    std::vector<TRowSlot>& slots_;
    std::size_t used_ = 0;
};

void Keep(std::string_view line, TIndexPart& part) {
    part.LineText.append(line);
    part.LineEnds.push_back(static_cast<std::uint32_t>(part.LineText.size()));
}

// Reads the rows of one index into its part, a stanza at a time: a stanza's
// field lines are remembered as they come and make a row when it ends.
class TIndexReader {
public:
    // Bytes is the size of the index.
    TIndexReader(std::uint64_t bytes, const std::string& indexFile, const TArchiveNames& archives,
                 TScratch& scratch, TIndexPart& part, TRowBudget& budget)
        : archives_(archives), localName_(scratch.LocalName), texts_(*scratch.Texts),
          lane_(scratch.Lane), part_(part), rows_(part.Rows), budget_(budget),
          seen_(Expected(bytes), scratch.RowSlots) {
        indexFile_ = texts_.Add(lane_, indexFile);
        // Growing the vector would move every row made so far; capacity never
        // touched costs no memory.
        HugePages::Reserve(rows_, Expected(bytes));
        HugePages::Reserve(part.LineEnds, 3 * Expected(bytes));
        HugePages::Reserve(part.LineText, 80 * Expected(bytes));
    }

    // Reads a piece of the index that ends where a stanza ends. False when
    // the reading ends: a byte 0x1A ends the index's text, and a reason in
    // the part ends the index.
    bool Feed(std::string_view piece) {
        text_ = piece;
        TextFile::TIndexLines lines(piece);
        std::string_view line;
        while (part_.Skipped.isEmpty() && lines.Next(line)) {
            if (line.empty())
                EndStanza();
            else
                See(line);
        }
        return part_.Skipped.isEmpty() && lines.Size() == piece.size();
    }

    // After the last piece (Read tells whether all of it was read): false
    // (with the reason in the part) when the index has more stanzas than an
    // index may have, the catalogue is full or the file could not be read.
    bool End(bool read) {
        if (!read && part_.Skipped.isEmpty())
            part_.Skipped = QStringLiteral("не прочитан");
        if (part_.Skipped.isEmpty())
            Finish();
        // The room not used goes back; a skipped index gives back all it took.
        budget_.GiveBack(part_.Skipped.isEmpty() ? taken_ - rows_.size() : taken_);
        if (!part_.Skipped.isEmpty())
            return false;
        if (!part_.HasSection)
            part_.Unsectioned = rows_.size();
        return true;
    }

private:
    // An index rarely has a stanza under 512 bytes.
    static std::size_t Expected(std::uint64_t bytes) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(bytes, SafeFiles::MaxIndexSize) /
                                        512) +
               16;
    }

    void See(std::string_view line) {
        TFieldLine* field = nullptr;
        switch (line[0]) {
        case 'P':
            field = line.starts_with("Package:") ? &package_ : nullptr;
            break;
        case 'N':
            field = line.starts_with("Name:") ? &name_ : nullptr;
            break;
        case 'V':
            field = line.starts_with("Version:") ? &version_ : nullptr;
            break;
        case 'A':
            field = line.starts_with("Architecture:") ? &architecture_ : nullptr;
            break;
        case 'D':
            field = line.starts_with("Description:") ? &description_ : nullptr;
            break;
        case 'F':
            field = line.starts_with("Filename:") ? &filename_ : nullptr;
            break;
        case 'S':
            if (line.starts_with("Section:"))
                SeeSection(line);
            break;
        default:
            break;
        }
        if (field)
            field->Set(line, text_);
    }

    // The category sticks: it holds for the stanzas after it until the next.
    void SeeSection(std::string_view line) {
        if (!part_.HasSection) {
            part_.Unsectioned = rows_.size();
            part_.HasSection = true;
        }
        part_.LastSection = texts_.Add(lane_, RawValue(line, 9));
    }

    void EndStanza() {
        Finish();
        for (TFieldLine* field :
             {&package_, &name_, &version_, &description_, &filename_, &architecture_})
            field->Clear();
    }

    // Whether another row fits; the reason is in the part when it does not.
    bool Room() {
        // Stanzas are counted as the refresh counts them, repeated ones too.
        if (++stanzas_ > SafeFiles::MaxIndexStanzas) {
            part_.Skipped = QStringLiteral("больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
            return false;
        }
        if (rows_.size() < taken_)
            return true;
        taken_ += TRowBudget::Step;
        if (budget_.Take())
            return true;
        part_.Skipped = QStringLiteral("в каталоге больше нет места (%1 пакетов)")
                            .arg(SafeFiles::MaxCatalogueRows);
        return false;
    }

    void Finish() {
        if (!package_.IsSet() || !Room())
            return;
        TPackageRow& row = rows_.emplace_back();
        TRowFields texts;
        texts.Package = RawValue(package_.Line(), 9);
        texts.Version = RawValue(version_.Line(), 9);
        row.ViewTexts(texts);
        row.Architecture.Assign(RawValue(architecture_.Line(), 14));
        // The place of the row in the table of rows is mostly not in the
        // cache: it is asked for, and what the row needs either way is
        // worked out while it comes.
        const std::uint64_t hash = TRowSet::HashOf(row);
        seen_.Prefetch(hash);
        const std::string_view caption = name_.IsSet() ? DecodedValue(name_.Line(), 6) : "";
        const std::string_view description = DecodedValue(description_.Line(), 13);
        bool downloaded = false;
        if (filename_.IsSet() && !archives_.Empty()) {
            LocalFileNameInto(filename_.Line(), localName_);
            downloaded = archives_.Contains(localName_);
        }
        // A stanza repeated with the same identifier, version and architecture
        // is the same package: nothing could tell its two rows apart.
        if (!seen_.InsertLast(rows_, hash)) {
            rows_.pop_back();
            return;
        }
        // The texts move into the store only now, so a repeated stanza costs
        // no room there.
        texts.Package = texts_.Add(lane_, texts.Package);
        texts.Version = texts_.Add(lane_, texts.Version);
        texts.Caption = name_.IsSet() ? texts_.Add(lane_, caption) : texts.Package;
        texts.Description = texts_.Add(lane_, description);
        texts.IndexFile = indexFile_;
        if (part_.HasSection)
            texts.Section = part_.LastSection;
        row.ViewTexts(texts);
        if (downloaded)
            row.State |= StateDownloaded;
        Keep(package_.Line(), part_);
        Keep(version_.Line(), part_);
        Keep(architecture_.Line(), part_);
    }

    std::string_view text_;
    std::string_view indexFile_; // in the store, shared by every row
    const TArchiveNames& archives_;
    std::string& localName_;
    TRowTexts& texts_;
    std::size_t lane_;
    TIndexPart& part_;
    TPackageRows& rows_;
    TRowBudget& budget_;
    TRowSet seen_;
    TFieldLine package_, name_, version_, description_, filename_, architecture_;
    std::uint64_t stanzas_ = 0;
    std::uint64_t taken_ = 0; // rows of room taken from the budget
};

} // namespace

namespace {

// Where the last empty line of Text ends, looking only at line ends from
// From on; 0 when there is none. An empty line is an LF after an LF, with
// only CRs between them: both ways of reading lines end a stanza there.
std::size_t StanzaEnd(std::string_view text, std::size_t from) {
    std::size_t end = text.size();
    while (end > from) {
        const void* found = ::memrchr(text.data() + from, '\n', end - from);
        if (!found)
            return 0;
        const std::size_t lf = std::size_t(static_cast<const char*>(found) - text.data());
        std::size_t before = lf;
        while (before > 0 && text[before - 1] == '\r')
            --before;
        if (before > 0 && text[before - 1] == '\n')
            return lf + 1;
        end = lf;
    }
    return 0;
}

} // namespace

TArchiveNames::TArchiveNames(std::unordered_set<std::string> names) : names_(std::move(names)) {
    // Some 32 bits per name: two bits of each leave about one name in a
    // hundred that is not there to the set.
    std::size_t words = 16;
    while (words * 2 < names_.size())
        words *= 2;
    filter_.assign(words, 0);
    for (const std::string& name : names_) {
        const auto [a, b] = BitsOf(name);
        filter_[a / 64] |= std::uint64_t(1) << (a % 64);
        filter_[b / 64] |= std::uint64_t(1) << (b % 64);
    }
}

std::pair<std::size_t, std::size_t> TArchiveNames::BitsOf(std::string_view name) const {
    const std::uint64_t h = AsciiText::Hash(name);
    const std::size_t bits = filter_.size() * 64;
    return {std::size_t(h) & (bits - 1), std::size_t(h >> 32) & (bits - 1)};
}

bool TArchiveNames::Contains(const std::string& name) const {
    if (names_.empty())
        return false;
    const auto [a, b] = BitsOf(name);
    if ((filter_[a / 64] >> (a % 64) & 1) == 0 || (filter_[b / 64] >> (b % 64) & 1) == 0)
        return false;
    return names_.count(name) != 0;
}

bool ReadPieces(SafeFiles::TReadFile& file, std::string& buffer,
                const std::function<bool(std::string_view)>& piece, QString* reason) {
    // A piece fits in the processor's caches; a stanza longer than the buffer
    // makes it grow, never past the file's size.
    constexpr std::size_t PieceBytes = std::size_t(1) << 20;
    if (buffer.size() < PieceBytes)
        buffer.resize(PieceBytes);
    std::uint64_t left = file.Size(); // no more than the file had when opened
    std::size_t kept = 0;             // bytes of a stanza carried over
    for (;;) {
        if (kept == buffer.size())
            buffer.resize(buffer.size() * 2);
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size() - kept, left));
        const std::ptrdiff_t n = want == 0 ? 0 : file.Read(buffer.data() + kept, want, reason);
        if (n < 0)
            return false;
        left -= static_cast<std::uint64_t>(n);
        const std::size_t have = kept + static_cast<std::size_t>(n);
        const std::string_view text(buffer.data(), have);
        if (n == 0) {
            if (have > 0)
                piece(text);
            return true;
        }
        const std::size_t cut = StanzaEnd(text, kept > 0 ? kept - 1 : 0);
        if (cut == 0) {
            kept = have;
            continue;
        }
        if (!piece(text.substr(0, cut)))
            return true;
        kept = have - cut;
        std::memmove(buffer.data(), buffer.data() + cut, kept);
    }
}

bool ReadRows(const QString& path, const std::string& indexFile, const TArchiveNames& archives,
              TScratch& scratch, TIndexPart& part, TRowBudget& budget) {
    SafeFiles::TReadFile file;
    if (file.Open(path, SafeFiles::MaxIndexSize, &part.Skipped) != SafeFiles::TReadResult::Ok)
        return false;
    TIndexReader reader(file.Size(), indexFile, archives, scratch, part, budget);
    QString reason;
    const bool read = ReadPieces(
        file, scratch.Buffer, [&reader](std::string_view piece) { return reader.Feed(piece); },
        &reason);
    if (!read)
        part.Skipped = reason;
    return reader.End(read);
}

} // namespace IndexReader
