#include "catalogue/CaptionOrder.h"

#include "base/Workers.h"
#include "catalogue/HugePages.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <string_view>

namespace CaptionOrder {

QCollator MakeCollator(Qt::CaseSensitivity sensitivity) {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setCaseSensitivity(sensitivity);
    collator.setNumericMode(false);
    collator.setIgnorePunctuation(false);
    return collator;
}

namespace {

using TOrder = std::vector<std::uint32_t>;

// The stable collation order of Texts: a sort key per text, then keys compared
// as bytes, far cheaper than a collation for each of the n log n comparisons.
TOrder KeyOrder(const std::vector<QString>& texts, const TOrder& which, const QCollator& collator) {
    std::vector<QCollatorSortKey> keys;
    keys.reserve(which.size());
    for (const std::uint32_t i : which)
        keys.push_back(collator.sortKey(texts[i]));
    TOrder local(which.size());
    std::iota(local.begin(), local.end(), 0u);
    // The collator puts an empty text before every other, even one it would
    // otherwise find equal (made only of ignored characters); the keys do not.
    std::stable_sort(local.begin(), local.end(), [&](std::uint32_t a, std::uint32_t b) {
        const bool emptyA = texts[which[a]].isEmpty(), emptyB = texts[which[b]].isEmpty();
        if (emptyA || emptyB)
            return emptyA && !emptyB;
        return keys[a].compare(keys[b]) < 0;
    });
    TOrder order;
    order.reserve(which.size());
    for (const std::uint32_t i : local)
        order.push_back(which[i]);
    return order;
}

// A guess at the collation of ASCII text, learnt from the collator itself: a
// rank per character (letters that differ only in case share one; characters
// the collator ignores get none) and a case weight. A text's guess key is its
// ranks, a zero, then its case weights; for a locale without contractions this
// is how the collator orders ASCII text. It is only a guess: the order it gives
// is checked with the collator and dropped when it is wrong anywhere.
class TAsciiGuess {
public:
    explicit TAsciiGuess(const QCollator& caseSensitive) {
        const QCollator caseFree = [&] {
            QCollator c = caseSensitive;
            c.setCaseSensitivity(Qt::CaseInsensitive);
            return c;
        }();
        std::vector<char16_t> chars;
        for (char16_t c = 1; c < 0x80; ++c) {
            const QString probe = QStringLiteral("a") + QChar(c);
            if (caseSensitive.compare(probe, QStringLiteral("a")) == 0)
                continue; // ignored by the collator
            chars.push_back(c);
        }
        auto text = [](char16_t c) { return QString(QChar(c)); };
        std::stable_sort(chars.begin(), chars.end(), [&](char16_t a, char16_t b) {
            return caseSensitive.compare(text(a), text(b)) < 0;
        });
        std::uint8_t rank = 0, weight = 0;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (i == 0 || caseFree.compare(text(chars[i - 1]), text(chars[i])) != 0) {
                ++rank;
                weight = 1;
            } else {
                ++weight;
            }
            rank_[chars[i]] = rank;
            weight_[chars[i]] = weight;
        }
    }

    // Writes the key of Text at Out, which has room for twice its bytes and
    // one more: the key's length, or -1 when the text is not plain ASCII.
    std::ptrdiff_t Key(std::string_view text, char* out) const {
        if (text.empty())
            return 0; // before every other key, as the collator has it
        char* at = out;
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if (u >= 0x80)
                return -1;
            *at = static_cast<char>(rank_[u]);
            at += rank_[u] != 0;
        }
        *at++ = '\0';
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            *at = static_cast<char>(weight_[u]);
            at += rank_[u] != 0;
        }
        return at - out;
    }

private:
    std::array<std::uint8_t, 128> rank_{};
    std::array<std::uint8_t, 128> weight_{};
};

// The texts of the rows being sorted, handed to the collator as UTF-16. Plain
// ASCII is widened into a reused buffer; other texts are decoded once.
class TTexts {
public:
    explicit TTexts(const std::vector<std::string_view>& raw) : raw_(raw), slot_(raw.size(), -1) {}

    QStringView View(std::uint32_t i, int buffer) {
        if (slot_[i] >= 0)
            return decoded_[std::size_t(slot_[i])];
        const std::string_view s = raw_[i];
        std::u16string& wide = ascii_[buffer];
        wide.resize(s.size());
        for (std::size_t k = 0; k < s.size(); ++k) {
            const auto u = static_cast<unsigned char>(s[k]);
            if (u >= 0x80) {
                slot_[i] = static_cast<std::int32_t>(decoded_.size());
                decoded_.push_back(Decoded(i));
                return decoded_.back();
            }
            wide[k] = u;
        }
        return QStringView(wide.data(), qsizetype(wide.size()));
    }
    QString Decoded(std::uint32_t i) const {
        const std::string_view s = raw_[i];
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }

private:
    const std::vector<std::string_view>& raw_;
    std::vector<std::int32_t> slot_; // place in decoded_, or -1
    std::vector<QString> decoded_;
    std::array<std::u16string, 2> ascii_;
};

// True when A goes before B: by collation, equal texts by their first place.
bool Before(const QCollator& collator, TTexts& texts, std::uint32_t a, std::uint32_t b) {
    const int c = collator.compare(texts.View(a, 0), texts.View(b, 1));
    return c < 0 || (c == 0 && a < b);
}

TOrder FullOrder(TTexts& texts, const TOrder& which, const QCollator& collator) {
    std::vector<QString> decoded;
    decoded.reserve(which.size());
    for (const std::uint32_t i : which)
        decoded.push_back(texts.Decoded(i));
    TOrder local(which.size());
    std::iota(local.begin(), local.end(), 0u);
    TOrder order;
    order.reserve(which.size());
    for (const std::uint32_t k : KeyOrder(decoded, local, collator))
        order.push_back(which[k]);
    return order;
}

// Guess keys live in one buffer; their first sixteen bytes, packed big end
// first, settle most comparisons without touching it (captions often share
// their first eight letters: "Example Theme", "Example Tweak").
struct TGuessed {
    std::uint64_t Prefix[2];
    std::uint32_t Offset;
    std::uint32_t Length;
    std::uint32_t Index;
};

// The bytes of Key from At on, big end first, zeros past its end.
std::uint64_t PackedFrom(std::string_view key, std::size_t at) {
    std::uint64_t packed = 0;
    for (std::size_t k = at; k < at + 8; ++k)
        packed = (packed << 8) | (k < key.size() ? static_cast<unsigned char>(key[k]) : 0u);
    return packed;
}

// True when the neighbours Order[From - 1 ...] up to Order[To - 1] are in
// collation order, equal texts by their first place. The texts are all ASCII.
bool PairsInOrder(const std::vector<std::string_view>& raw, const TOrder& order, std::size_t from,
                  std::size_t to, const QCollator& collator) {
    // Each text is widened once: it stays in its buffer for the next pair.
    std::array<std::u16string, 2> wide;
    auto widen = [&](std::uint32_t i, std::u16string& out) {
        const std::string_view s = raw[i];
        out.resize(s.size());
        for (std::size_t k = 0; k < s.size(); ++k)
            out[k] = static_cast<unsigned char>(s[k]);
        return QStringView(out.data(), qsizetype(out.size()));
    };
    // Most captions recur (the same package in several indexes): a pair of
    // the same bytes needs no collation, only the order of their places.
    widen(order[from - 1], wide[0]);
    std::size_t older = 0; // the buffer holding Order[I - 1] widened
    for (std::size_t i = from; i < to; ++i) {
        if (raw[order[i]] == raw[order[i - 1]]) {
            if (order[i - 1] > order[i])
                return false;
            continue;
        }
        const std::u16string& before = wide[older];
        const int c = collator.compare(QStringView(before.data(), qsizetype(before.size())),
                                       widen(order[i], wide[1 - older]));
        if (c > 0 || (c == 0 && order[i - 1] > order[i]))
            return false;
        older = 1 - older;
    }
    return true;
}

// The check of a guessed order: one collation per neighbour pair, shared by
// two threads on a long list (each with a collator of its own).
bool InCollationOrder(const std::vector<std::string_view>& raw, const TOrder& order,
                      const QCollator& collator) {
    constexpr std::size_t Shared = 8192;
    if (order.size() < Shared || Workers::Cores() < 2)
        return order.size() < 2 || PairsInOrder(raw, order, 1, order.size(), collator);
    const std::size_t half = order.size() / 2;
    bool ok[2] = {false, false};
    Workers::RunInParallel(2, [&](unsigned part) {
        if (part == 1) {
            ok[1] = PairsInOrder(raw, order, 1, half, collator);
            return;
        }
        const QCollator own = MakeCollator(collator.caseSensitivity());
        ok[0] = PairsInOrder(raw, order, half, order.size(), own);
    });
    return ok[0] && ok[1];
}

// The places of the guessed texts in the order of their keys (the place
// breaks ties).
TOrder SortGuessed(std::vector<TGuessed>& guessed, const std::string& arena) {
    const auto less = [&arena](const TGuessed& a, const TGuessed& b) {
        if (a.Prefix[0] != b.Prefix[0])
            return a.Prefix[0] < b.Prefix[0];
        if (a.Prefix[1] != b.Prefix[1])
            return a.Prefix[1] < b.Prefix[1];
        const std::string_view ka(arena.data() + a.Offset, a.Length);
        const std::string_view kb(arena.data() + b.Offset, b.Length);
        const int c = ka.compare(kb);
        return c < 0 || (c == 0 && a.Index < b.Index);
    };
    TOrder order;
    order.reserve(guessed.size());
    constexpr std::size_t Shared = 8192;
    if (guessed.size() >= Shared && Workers::Cores() >= 2) {
        // No two keys are equal (the place breaks ties), so sorting the halves
        // side by side and merging them gives the one order there is.
        const auto middle = guessed.begin() + std::ptrdiff_t(guessed.size() / 2);
        Workers::RunInParallel(2, [&](unsigned part) {
            if (part == 0)
                std::sort(middle, guessed.end(), less);
            else
                std::sort(guessed.begin(), middle, less);
        });
        // Merged straight into the order: only the places are needed.
        auto a = guessed.begin(), b = middle;
        while (a != middle && b != guessed.end())
            order.push_back(less(*b, *a) ? (b++)->Index : (a++)->Index);
        for (; a != middle; ++a)
            order.push_back(a->Index);
        for (; b != guessed.end(); ++b)
            order.push_back(b->Index);
    } else {
        std::sort(guessed.begin(), guessed.end(), less);
        for (const TGuessed& g : guessed)
            order.push_back(g.Index);
    }
    return order;
}

TOrder SortedOrder(const std::vector<std::string_view>& raw, const QCollator& collator) {
    const auto n = static_cast<std::uint32_t>(raw.size());
    TTexts texts(raw);
    // Every place, for when the guess does not hold.
    const auto all = [n] {
        TOrder places(n);
        std::iota(places.begin(), places.end(), 0u);
        return places;
    };
    const TAsciiGuess guess(collator);
    // A key is at most two bytes per character and one more. The sort's
    // buffers are fresh memory of some megabytes: huge pages where they fit.
    std::size_t bytes = 0;
    for (const std::string_view text : raw)
        bytes += 2 * text.size() + 1;
    std::vector<TGuessed> guessed;
    HugePages::Reserve(guessed, n);
    std::string arena;
    HugePages::Reserve(arena, std::min<std::size_t>(bytes, UINT32_MAX));
    arena.resize(arena.capacity());
    std::size_t used = 0;
    TOrder others;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::string_view text = raw[i];
        const std::ptrdiff_t length =
            arena.size() - used < 2 * text.size() + 1 ? -1 : guess.Key(text, arena.data() + used);
        if (length < 0) {
            others.push_back(i);
            continue;
        }
        const std::string_view key(arena.data() + used, std::size_t(length));
        guessed.push_back({{PackedFrom(key, 0), PackedFrom(key, 8)},
                           std::uint32_t(used),
                           std::uint32_t(length),
                           i});
        used += std::size_t(length);
    }
    // Inserting the others one by one pays off only while they are few.
    if (others.size() > n / 8)
        return FullOrder(texts, all(), collator);
    const TOrder order = SortGuessed(guessed, arena);
    if (!InCollationOrder(raw, order, collator))
        return FullOrder(texts, all(), collator);
    // The others, in their own order, each go where the collator puts them.
    const TOrder sortedOthers = FullOrder(texts, others, collator);
    TOrder merged;
    merged.reserve(n);
    auto from = order.begin();
    for (const std::uint32_t o : sortedOthers) {
        const auto at = std::partition_point(
            from, order.end(), [&](std::uint32_t g) { return Before(collator, texts, g, o); });
        merged.insert(merged.end(), from, at);
        merged.push_back(o);
        from = at;
    }
    merged.insert(merged.end(), from, order.end());
    return merged;
}

} // namespace

std::vector<std::uint32_t> SortedPlaces(const std::vector<std::string_view>& captions) {
    if (captions.size() < 2) {
        TOrder order(captions.size());
        std::iota(order.begin(), order.end(), 0u);
        return order;
    }
    // The texts are read in sorted order, that is all over the place: side by
    // side in one buffer they stay in the cache.
    std::size_t bytes = 0;
    for (const std::string_view c : captions)
        bytes += c.size();
    std::string packed;
    HugePages::Reserve(packed, bytes);
    std::vector<std::string_view> texts;
    HugePages::Reserve(texts, captions.size());
    for (const std::string_view c : captions)
        packed.append(c);
    std::size_t at = 0;
    for (const std::string_view c : captions) {
        texts.emplace_back(packed.data() + at, c.size());
        at += c.size();
    }
    return SortedOrder(texts, MakeCollator(Qt::CaseSensitive));
}

std::vector<std::uint32_t> SortedPlaces(const TPackageRows& rows) {
    std::vector<std::string_view> captions;
    captions.reserve(rows.size());
    for (const TPackageRow& row : rows)
        captions.emplace_back(row.Caption());
    return SortedPlaces(captions);
}

void Rearrange(TPackageRows& rows, const std::vector<std::uint32_t>& places) {
    std::vector<bool> done(rows.size(), false);
    for (std::size_t start = 0; start < rows.size(); ++start) {
        if (done[start] || places[start] == start)
            continue;
        TPackageRow held = std::move(rows[start]);
        std::size_t at = start;
        while (places[at] != start) {
            rows[at] = std::move(rows[places[at]]);
            done[at] = true;
            at = places[at];
        }
        rows[at] = std::move(held);
        done[at] = true;
    }
}

void Sort(TPackageRows& rows) {
    Rearrange(rows, SortedPlaces(rows));
}

void SortCaseFree(std::vector<std::string>& texts) {
    if (texts.size() < 2)
        return;
    std::vector<QString> decoded;
    decoded.reserve(texts.size());
    for (const std::string& t : texts)
        decoded.push_back(QString::fromUtf8(t.data(), qsizetype(t.size())));
    TOrder all(texts.size());
    std::iota(all.begin(), all.end(), 0u);
    const TOrder order = KeyOrder(decoded, all, MakeCollator(Qt::CaseInsensitive));
    std::vector<std::string> sorted;
    sorted.reserve(texts.size());
    for (const std::uint32_t i : order)
        sorted.push_back(std::move(texts[i]));
    texts.swap(sorted);
}

} // namespace CaptionOrder
