#pragma once

#include "catalogue/PackageRow.h"

#include <QString>

#include <string>
#include <string_view>

// Building the package list from the index store: one row per stanza with a
// "Package:" line, flagged as downloaded (its file is in the local cache) and as
// new or updated (missing from, or with another "Version:" line than in, the
// reference copy of the same index), sorted by caption with the flagged rows
// first.
PackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                         const QString& archivesDir);

// Sorts rows by Caption in the user's locale collation (letter case only breaks
// ties, lower case first); rows with equal captions keep their order.
void SortPackages(PackageRows& rows);
