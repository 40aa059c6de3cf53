#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
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

// The six texts of a row, as views.
struct TRowFields {
    std::string_view Caption;
    std::string_view Version;
    std::string_view Package;
    std::string_view Description;
    std::string_view IndexFile;
    std::string_view Section;
};

// Where the texts of many rows live: blocks of memory that only grow and are
// never moved, so a view into them stays valid as long as the store. A list
// of a hundred thousand rows then costs a few large blocks instead of a heap
// allocation per text, and those blocks ask for huge pages. A store has
// lanes, each filled by one thread at a time: the workers of a load each fill
// their own lane of one store, without locking.
class TRowTexts {
public:
    // Lanes, and the size of a lane's blocks (at least the 2 MB of a huge
    // page when the store is to hold many rows; small for a single row).
    explicit TRowTexts(std::size_t lanes = 1, std::size_t blockBytes = 0);
    TRowTexts(const TRowTexts&) = delete;
    TRowTexts& operator=(const TRowTexts&) = delete;
    ~TRowTexts();

    // A copy of Text in lane Lane.
    std::string_view Add(std::size_t lane, std::string_view text);
    // Keeps Text as it is (a whole file read, which rows then view).
    std::string_view Adopt(std::string&& text);

private:
    struct TLane;
    std::vector<TLane> lanes_;
    std::deque<std::string> adopted_; // a deque: a string adopted later moves none before it
    std::size_t blockBytes_;
};

// One row of the package list: one stanza of one index. Every text is kept as
// the bytes it came with: the decoded fields (Caption from "Name:",
// Description) hold valid UTF-8 or nothing, the others hold whatever the index
// had, so an identifier compares byte for byte with the stanza it was read
// from. A row is told from the other rows of its index by its identifier,
// version and architecture: an index that repeats a stanza gives one row.
//
// The texts are views into a store the row shares with the rows loaded with
// it; a row made or changed on its own gets a store of its own.
struct TPackageRow {
    TPackageRow() = default;
    // A row with its own copy of Texts.
    explicit TPackageRow(const TRowFields& texts) { SetTexts(texts); }

    std::string_view Caption() const { return texts_.Caption; }
    std::string_view Version() const { return texts_.Version; }
    std::string_view Package() const { return texts_.Package; }
    std::string_view Description() const { return texts_.Description; }
    std::string_view IndexFile() const { return texts_.IndexFile; }
    std::string_view Section() const { return texts_.Section; }
    const TRowFields& Texts() const { return texts_; }

    // Copies Texts into a store of the row's own; so does each of the
    // setters of one text (a row seldom changes after its load).
    void SetTexts(const TRowFields& texts);
    void SetCaption(std::string_view text) { Set(&TRowFields::Caption, text); }
    void SetVersion(std::string_view text) { Set(&TRowFields::Version, text); }
    void SetPackage(std::string_view text) { Set(&TRowFields::Package, text); }
    void SetDescription(std::string_view text) { Set(&TRowFields::Description, text); }
    void SetIndexFile(std::string_view text) { Set(&TRowFields::IndexFile, text); }
    void SetSection(std::string_view text) { Set(&TRowFields::Section, text); }
    // Views Texts, which Store keeps (or the caller, until it hands the row a
    // store with Share).
    void ViewTexts(const TRowFields& texts) { texts_ = texts; }
    void Share(std::shared_ptr<const TRowTexts> store) { store_ = std::move(store); }

    TArchitecture Architecture;
    int State = 0;
    bool Marked = false;

    bool operator==(const TPackageRow& other) const;

private:
    void Set(std::string_view TRowFields::*field, std::string_view text) {
        TRowFields texts = texts_;
        texts.*field = text;
        SetTexts(texts);
    }

    TRowFields texts_;
    std::shared_ptr<const TRowTexts> store_;
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
        return {std::string(row.Package()), std::string(row.Version()), row.Architecture};
    }
    bool Matches(const TPackageRow& row) const {
        return row.Package() == Package && row.Version() == Version &&
               row.Architecture == Architecture;
    }
    bool operator==(const TPackageKey&) const = default;
};

// Whether a row is listed for a phone of Architecture (empty: every row is).
// Packages for every architecture ("all") and stanzas that name none are
// listed for any phone.
inline bool ListedFor(const TArchitecture& row, std::string_view phone) {
    return phone.empty() || row.empty() || row.View() == phone || row.View() == "all";
}
