#pragma once

#include <string>
#include <vector>

// One row of the package list. Every text is kept as the bytes it came with:
// the decoded fields (Caption from "Name:", Description) hold valid UTF-8 or
// nothing, the others hold whatever the index had, so an identifier compares
// byte for byte with the stanza it was read from.
struct PackageRow {
    std::string Caption;
    std::string Version;
    std::string Package;
    std::string Description;
    std::string IndexFile;
    std::string Section;
    int State = 0;
    bool Marked = false;

    bool operator==(const PackageRow&) const = default;
};

// Bit values of PackageRow::State.
enum : int {
    StateDownloaded = 1,
    StateNewOrUpdated = 2,
};

using PackageRows = std::vector<PackageRow>;
