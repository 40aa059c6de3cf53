#pragma once

#include "catalogue/PackageRow.h"

#include <QCollator>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The order of the package list and of the category entries: the collation of
// the user's locale. A locale without a collation of its own (the C locale)
// compares code points, which would put every capital before every small
// letter; such a locale falls back to the English collation.
namespace CaptionOrder {

QCollator MakeCollator(Qt::CaseSensitivity sensitivity);

// Sorts rows by Caption: letter case only breaks ties, small letters first;
// equal captions keep their order.
void Sort(TPackageRows& rows);

// The order Sort would give, as the old place of the row for each new place.
std::vector<std::uint32_t> SortedPlaces(const TPackageRows& rows);
std::vector<std::uint32_t> SortedPlaces(const std::vector<std::string_view>& captions);

// Puts rows into the order Places gives (new place -> old place), moving each
// row once, in place.
void Rearrange(TPackageRows& rows, const std::vector<std::uint32_t>& places);

// Sorts texts without regard to letter case; equal texts keep their order.
void SortCaseFree(std::vector<std::string>& texts);

} // namespace CaptionOrder
