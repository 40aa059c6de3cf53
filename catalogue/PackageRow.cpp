#include "catalogue/PackageRow.h"

#include "catalogue/HugePages.h"

#include <cstring>
#include <new>

struct TRowTexts::TLane {
    std::vector<HugePages::TBlock> Blocks;
    char* At = nullptr;
    char* End = nullptr;
};

TRowTexts::TRowTexts(std::size_t lanes, std::size_t blockBytes)
    : lanes_(lanes), blockBytes_(blockBytes) {}

TRowTexts::~TRowTexts() = default;

std::string_view TRowTexts::Add(std::size_t lane, std::string_view text) {
    if (text.empty())
        return std::string_view("", 0);
    TLane& l = lanes_[lane];
    if (std::size_t(l.End - l.At) < text.size()) {
        HugePages::TBlock& block = l.Blocks.emplace_back(std::max(blockBytes_, text.size()));
        l.At = block.Data();
        l.End = block.Data() + block.Size();
    }
    char* at = l.At;
    std::memcpy(at, text.data(), text.size());
    l.At += text.size();
    return {at, text.size()};
}

std::string_view TRowTexts::Adopt(std::string&& text) {
    return adopted_.emplace_back(std::move(text));
}

void TPackageRow::SetTexts(const TRowFields& texts) {
    const std::string_view fields[] = {texts.Caption,     texts.Version,   texts.Package,
                                       texts.Description, texts.IndexFile, texts.Section};
    std::string all;
    for (const std::string_view field : fields)
        all.append(field);
    auto store = std::make_shared<TRowTexts>();
    const std::string_view kept = store->Adopt(std::move(all));
    std::string_view* views[] = {&texts_.Caption,     &texts_.Version,   &texts_.Package,
                                 &texts_.Description, &texts_.IndexFile, &texts_.Section};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        *views[i] = kept.substr(at, fields[i].size());
        at += fields[i].size();
    }
    store_ = std::move(store);
}

bool TPackageRow::operator==(const TPackageRow& other) const {
    return Caption() == other.Caption() && Version() == other.Version() &&
           Package() == other.Package() && Description() == other.Description() &&
           IndexFile() == other.IndexFile() && Section() == other.Section() &&
           Architecture == other.Architecture && State == other.State && Marked == other.Marked;
}
