#pragma once

#include "catalogue/PackageRow.h"

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>

// Building the package list from the index store: one row per stanza with a
// "Package:" line, flagged as downloaded (its file is in the local cache) and as
// new or updated (missing from, or with another "Version:" line than in, the
// reference copy of the same index), sorted by caption with the flagged rows
// first.
//
// An index, or a reference copy, beyond the index limits (SafeFiles.h), or
// one that cannot be read, is skipped: Skipped (when given) gets one line per
// skipped index with its path and why. So is an index that no longer fits in
// the catalogue's room. Memory stays bounded whatever the folders hold.
TPackageRows LoadPackages(const QString& procDir, const QString& listsDir,
                          const QString& archivesDir, QStringList* skipped = nullptr);

// Sorts rows by Caption in the user's locale collation (letter case only breaks
// ties, lower case first); rows with equal captions keep their order.
void SortPackages(TPackageRows& rows);
