#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A package's architecture as its stanza gives it ("iphoneos-arm64", "all"),
// held inside the row: a row costs no allocation for it. A longer value keeps
// its first Capacity bytes; every architecture repositories use is shorter.
class TArchitecture {
public:
    static constexpr std::size_t Capacity = 15;

    TArchitecture() = default;
    explicit TArchitecture(std::string_view text) { Assign(text); }

    void Assign(std::string_view text) {
        size_ = static_cast<std::uint8_t>(std::min(text.size(), Capacity));
        std::copy_n(text.data(), size_, text_);
        std::fill(text_ + size_, text_ + Capacity, '\0');
    }
    std::string_view View() const { return {text_, size_}; }
    bool empty() const { return size_ == 0; }
    bool operator==(const TArchitecture& other) const { return View() == other.View(); }

private:
    char text_[Capacity] = {};
    std::uint8_t size_ = 0;
};

// One row of the package list: one stanza of one index. Every text is kept as
// the bytes it came with: the decoded fields (Caption from "Name:",
// Description) hold valid UTF-8 or nothing, the others hold whatever the index
// had, so an identifier compares byte for byte with the stanza it was read
// from. A row is told from the other rows of its index by its identifier,
// version and architecture: an index that repeats a stanza gives one row.
struct TPackageRow {
    std::string Caption;
    std::string Version;
    std::string Package;
    std::string Description;
    std::string IndexFile;
    std::string Section;
    TArchitecture Architecture;
    int State = 0;
    bool Marked = false;

    bool operator==(const TPackageRow&) const = default;
};

// Bit values of TPackageRow::State.
enum : int {
    StateDownloaded = 1,
    StateNewOrUpdated = 2,
};

using TPackageRows = std::vector<TPackageRow>;

// The stanza a row stands for, apart from the index it lies in: what the saved
// list's state updates and the download's identity go by.
struct TPackageKey {
    std::string Package;
    std::string Version;
    TArchitecture Architecture;

    static TPackageKey Of(const TPackageRow& row) {
        return {row.Package, row.Version, row.Architecture};
    }
    bool Matches(const TPackageRow& row) const {
        return row.Package == Package && row.Version == Version && row.Architecture == Architecture;
    }
    bool operator==(const TPackageKey&) const = default;
};

// Whether a row is listed for a phone of Architecture (empty: every row is).
// Packages for every architecture ("all") and stanzas that name none are
// listed for any phone.
inline bool ListedFor(const TArchitecture& row, std::string_view phone) {
    return phone.empty() || row.empty() || row.View() == phone || row.View() == "all";
}
