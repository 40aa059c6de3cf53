#include "catalogue/StanzaOffsets.h"

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/AsciiText.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <sys/stat.h>
#include <unistd.h>

namespace StanzaOffsets {
namespace {

// The identifier lines' values are hashed as they stream past; a lookup
// hashes its identifier the same way. Equal hashes only name stanzas to
// read: the caller compares the values themselves.
constexpr std::uint32_t HashStart = 2166136261u;
inline std::uint32_t HashStep(std::uint32_t hash, char c) {
    return (hash ^ static_cast<unsigned char>(c)) * 16777619u;
}
std::uint32_t KeyHash(std::string_view value) {
    std::uint32_t hash = HashStart;
    for (const char c : value)
        hash = HashStep(hash, c);
    return hash;
}

constexpr std::string_view PackageField = "package: ";

struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    off_t Size = 0;
    std::int64_t ChangedSeconds = 0, ChangedNanoseconds = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// What is known of one index: the stanzas of the part scanned so far.
struct TStanzaTable {
    TStanzaTable(std::string path, const TFileIdentity& identity)
        : Path(std::move(path)), Identity(identity) {}
    void Reset() {
        Keys.clear();
        Sorted = 0;
        Complete = false;
        ScannedTo = Tail = End = 0;
    }

    const std::string Path;
    const TFileIdentity Identity;
    std::mutex Mutex; // guards the rest
    // One entry per "package:" line: the hash of its value in the high half,
    // where its stanza starts in the low half (an index is at most
    // SafeFiles::MaxTextSize long). The first Sorted are in order, the rest
    // in file order.
    std::vector<std::uint64_t> Keys;
    std::size_t Sorted = 0;
    bool Complete = false;       // scanned to the end of the text
    std::uint64_t ScannedTo = 0; // always the start of a stanza
    std::uint64_t Tail = 0;      // once complete: where the last stanza starts
    std::uint64_t End = 0;       // and where the text ends (a byte 0x1A ends it)
};

// The tables of the indexes looked into lately, shared by every thread.
class TStanzaTables {
public:
    std::shared_ptr<TStanzaTable> Get(const std::string& path, const TFileIdentity& identity) {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto& table : tables_)
            if (table->Path == path) {
                if (!(table->Identity == identity))
                    table = std::make_shared<TStanzaTable>(path, identity);
                return table;
            }
        // A source list is some dozens of indexes; the oldest table goes first.
        if (tables_.size() >= 64)
            tables_.erase(tables_.begin());
        return tables_.emplace_back(std::make_shared<TStanzaTable>(path, identity));
    }
    void Forget(const std::shared_ptr<TStanzaTable>& table) {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::erase(tables_, table);
    }

private:
    std::mutex mutex_;
    std::vector<std::shared_ptr<TStanzaTable>> tables_;
};

TStanzaTables& Tables() {
    static TStanzaTables tables;
    return tables;
}

// Reads the index with pread, no further than the size it had when opened.
// The buffers stay with the thread: fresh memory is dear, a lookup's is not.
class TPieceReader {
public:
    TPieceReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {
        if (piece_.size() < PieceBytes)
            piece_.resize(PieceBytes);
    }
    ~TPieceReader() {
        // One huge stanza must not hold its memory for good.
        if (range_.capacity() > PieceBytes)
            std::string().swap(range_);
    }
    std::uint64_t Size() const { return size_; }
    bool Short() const { return short_; }

    // The next piece from At, in the thread's piece buffer.
    std::string_view Piece(std::uint64_t at) {
        return {piece_.data(),
                Read(piece_.data(), std::min<std::uint64_t>(PieceBytes, Left(at)), at)};
    }
    // The bytes from Start to Stop (fewer when the file has shrunk) in To.
    std::string_view Range(std::uint64_t start, std::uint64_t stop, std::string& to) {
        to.resize(stop > start ? stop - start : 0);
        to.resize(Read(to.data(), to.size(), start));
        return to;
    }
    std::string_view Range(std::uint64_t start, std::uint64_t stop) {
        return Range(start, stop, range_);
    }
    // The stanza that starts at Start, up to its closing empty line, or to
    // Limit when no empty line comes first.
    std::string_view Stanza(std::uint64_t start, std::uint64_t limit);

private:
    std::uint64_t Left(std::uint64_t at) const { return at < size_ ? size_ - at : 0; }
    std::size_t Read(char* to, std::size_t bytes, std::uint64_t at) {
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::pread(fd_, to + done, bytes - done, static_cast<off_t>(at + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                short_ = true;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    int fd_;
    std::uint64_t size_;
    bool short_ = false; // the file gave less than its size: it changed
    static thread_local std::string piece_, range_;
};

thread_local std::string TPieceReader::piece_, TPieceReader::range_;

std::string_view TPieceReader::Stanza(std::uint64_t start, std::uint64_t limit) {
    // Stanzas are short: a small read mostly holds the whole of one.
    for (std::uint64_t window = 4096;; window *= 2) {
        const std::uint64_t stop = std::min(limit, start + window);
        const std::string_view text = Range(start, stop);
        TextFile::TIndexLines lines(text);
        std::string_view line;
        while (lines.Next(line))
            // An empty line cut off by the read (a lone CR at its end) may not be one.
            if (line.empty() && text[lines.Position() - 1] == '\n')
                return text.substr(0, lines.Position());
        if (lines.Size() < text.size() || stop == limit || text.size() < stop - start)
            return text.substr(0, lines.Size());
    }
}

// Whether a line starting with C may be empty or a "package:" line: it starts
// with LF, CR or P (a few other control bytes pass too, to keep the test cheap).
inline bool MayMatter(char c) {
    return (c | 0x20) == 'p' || static_cast<unsigned char>(c) <= '\r';
}

// The first LF at or after From in P[0, N) whose next line may matter (or
// that ends P); N when there is none. Every other line is skipped unread:
// most lines of an index are other fields and description text.
std::size_t NextLookedAtLine(const char* p, std::size_t n, std::size_t from) {
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    const __m128i lowP = _mm_set1_epi8('p'), caseBit = _mm_set1_epi8(0x20);
    for (; from + 65 <= n; from += 64) {
        std::uint64_t hits = 0;
        for (int k = 0; k < 4; ++k) {
            const char* q = p + from + 16 * k;
            const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 1));
            const __m128i matters = _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(next, caseBit), lowP),
                                                 _mm_cmpeq_epi8(_mm_min_epu8(next, cr), next));
            const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(here, lf), matters);
            hits |= std::uint64_t(static_cast<std::uint32_t>(_mm_movemask_epi8(hit))) << (16 * k);
        }
        if (hits)
            return from + static_cast<std::size_t>(__builtin_ctzll(hits));
    }
#endif
    for (; from < n; ++from)
        if (p[from] == '\n' && (from + 1 == n || MayMatter(p[from + 1])))
            return from;
    return n;
}

using TIsWanted = std::function<bool(std::string_view)>;

// Walks the text piece by piece and notes where each stanza with a
// "package:" line starts; the stanzas whose value hashes like the one wanted
// are handed to IsWanted as they end. Only the first bytes of a line are
// looked at: the rest of a line that cannot be a "package:" line is skipped
// at the speed of the line-end search.
class TStanzaScan {
public:
    TStanzaScan(TStanzaTable& table, std::uint32_t want, TPieceReader& reader,
                const TIsWanted& isWanted)
        : table_(table), reader_(reader), isWanted_(isWanted), want_(want),
          start_(table.ScannedTo) {}

    // Piece is the text's bytes from At. True when a stanza was wanted: the
    // table then knows the text up to the end of that stanza.
    bool Feed(std::string_view piece, std::uint64_t at);
    // The text ends at End: so do the line and the stanza in progress.
    bool Finish(std::uint64_t end);

private:
    enum class TMode { LineStart, Skip, Value };
    void NextLine() {
        mode_ = TMode::LineStart;
        matched_ = 0;
    }
    void PackageLine() {
        table_.Keys.push_back(std::uint64_t(hash_) << 32 | start_);
        match_ = match_ || hash_ == want_;
    }
    bool StanzaEnds(std::uint64_t end) {
        if (match_ && isWanted_(reader_.Range(start_, end))) {
            table_.ScannedTo = end;
            return true;
        }
        start_ = end;
        match_ = false;
        return false;
    }

    TStanzaTable& table_;
    TPieceReader& reader_;
    const TIsWanted& isWanted_;
    const std::uint32_t want_;
    std::uint64_t start_; // where the current stanza starts
    bool match_ = false;  // it has a line with the hash wanted
    TMode mode_ = TMode::LineStart;
    std::size_t matched_ = 0; // bytes of PackageField the line begins with (CRs aside)
    std::uint32_t hash_ = 0;
};

bool TStanzaScan::Feed(std::string_view piece, std::uint64_t at) {
    const char* p = piece.data();
    const std::size_t n = piece.size();
    std::size_t i = 0;
    while (i < n) {
        if (mode_ == TMode::Skip) {
            const std::size_t e = NextLookedAtLine(p, n, i);
            if (e == n)
                return false;
            i = e + 1;
            NextLine();
        } else if (mode_ == TMode::Value) {
            // Every CR leaves a line, the one of a CR LF and any other.
            for (; i < n && p[i] != '\n'; ++i)
                if (p[i] != '\r')
                    hash_ = HashStep(hash_, p[i]);
            if (i == n)
                return false;
            ++i;
            PackageLine();
            NextLine();
        } else {
            const char c = p[i++];
            if (c == '\n') {
                if (matched_ == 0 && StanzaEnds(at + i))
                    return true;
                NextLine();
            } else if (c == '\r') {
                continue;
            } else if (AsciiText::Lower(c) != PackageField[matched_]) {
                mode_ = TMode::Skip;
            } else if (++matched_ == PackageField.size()) {
                mode_ = TMode::Value;
                hash_ = HashStart;
            }
        }
    }
    return false;
}

bool TStanzaScan::Finish(std::uint64_t end) {
    // A last line without its line end still counts.
    if (mode_ == TMode::Value)
        PackageLine();
    table_.Complete = true;
    table_.ScannedTo = table_.End = end;
    table_.Tail = start_;
    return match_ && isWanted_(reader_.Range(start_, end));
}

// Scans on from where the table's scan stopped.
bool Continue(TStanzaTable& table, TStanzaScan& scan, TPieceReader& reader) {
    for (std::uint64_t at = table.ScannedTo;;) {
        std::string_view piece = reader.Piece(at);
        bool ended = at + piece.size() >= reader.Size() || reader.Short();
        if (const void* eof =
                piece.empty() ? nullptr : std::memchr(piece.data(), 0x1A, piece.size())) {
            piece = piece.substr(0, std::size_t(static_cast<const char*>(eof) - piece.data()));
            ended = true;
        }
        if (scan.Feed(piece, at))
            return true;
        at += piece.size();
        if (ended)
            return scan.Finish(at);
    }
}

// Sorts the keys a scan added since the last sort in among the others.
void SortAdded(TStanzaTable& table) {
    auto& keys = table.Keys;
    const auto added = keys.begin() + static_cast<std::ptrdiff_t>(table.Sorted);
    std::sort(added, keys.end());
    std::inplace_merge(keys.begin(), added, keys.end());
    table.Sorted = keys.size();
}

TFileIdentity IdentityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

// The stanzas already known that may be the one wanted, in file order.
bool CheckKnown(TStanzaTable& table, std::uint32_t want, TPieceReader& reader,
                const TIsWanted& isWanted) {
    // The keys a scan added since the last sort are searched one by one; a
    // long run of them is sorted in first. Every key past the sorted ones
    // lies further on in the file, so file order is kept either way.
    auto& keys = table.Keys;
    if (keys.size() - table.Sorted > 1024)
        SortAdded(table);
    const std::uint64_t limit = table.Complete ? table.End : table.ScannedTo;
    std::uint64_t last = UINT64_MAX;
    auto check = [&](std::uint64_t key) {
        const std::uint64_t start = key & 0xFFFFFFFFu;
        if (key >> 32 != want || start == last)
            return false; // another identifier, or the stanza's second line of it
        last = start;
        return isWanted(reader.Stanza(start, limit));
    };
    const auto sorted = keys.cbegin() + static_cast<std::ptrdiff_t>(table.Sorted);
    for (auto at = std::lower_bound(keys.cbegin(), sorted, std::uint64_t(want) << 32);
         at != sorted && *at >> 32 == want; ++at)
        if (check(*at))
            return true;
    return std::any_of(sorted, keys.cend(), check);
}

} // namespace

bool FindStanza(int fd, const std::string& path, std::string_view package,
                const TIsWanted& isWanted, std::string& tail) {
    tail.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > SafeFiles::MaxTextSize)
        return false;
    const auto table = Tables().Get(path, IdentityOf(st));
    const std::lock_guard<std::mutex> lock(table->Mutex);
    // Room for a stanza every 512 bytes at once: growing a step at a time
    // would copy the keys and touch fresh memory again at every step.
    table->Keys.reserve(static_cast<std::size_t>(st.st_size) / 512);
    TPieceReader reader(fd, static_cast<std::uint64_t>(st.st_size));
    const std::uint32_t want = KeyHash(package);
    bool found = false;
    for (const bool again : {false, true}) {
        const bool known = table->ScannedTo > 0;
        TStanzaScan scan(*table, want, reader, isWanted);
        found = CheckKnown(*table, want, reader, isWanted) ||
                (!table->Complete && Continue(*table, scan, reader));
        if (found || !known || again)
            break;
        table->Reset();
    }
    if (!found)
        reader.Range(table->Tail, table->End, tail);
    // A file that changed while it was read is not remembered.
    if (reader.Short())
        Tables().Forget(table);
    return found;
}

void Learn(int fd, const std::string& path) {
    struct stat st {};
    // Sorted at once, so that the first lookup need not sort them.
    const auto known = [&] {
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
            return true;
        const auto table = Tables().Get(path, IdentityOf(st));
        const std::lock_guard<std::mutex> lock(table->Mutex);
        if (table->Complete && table->Sorted < table->Keys.size())
            SortAdded(*table);
        return table->Complete;
    };
    if (known())
        return;
    // A lookup that nothing satisfies scans the whole text into the table.
    std::string tail;
    FindStanza(
        fd, path, {}, [](std::string_view) { return false; }, tail);
    known();
}

} // namespace StanzaOffsets
