#pragma once

#include <QString>
#include <QStringList>

// Naming and listing of the local index store. A source address and the name of
// its stored index turn into each other by two plain string rules; the same
// name is used in the store, in the reference copies and on the phone.
namespace IndexStore {

// "http://repo.example.org/Packages" -> "repo.example.org_Packages": every
// "http://" (letter case significant) removed, every "/" turned into "_".
QString AddressToIndexName(const QString& address);

// "repo.example.org_Packages" -> "http://repo.example.org/Packages".
QString IndexNameToAddress(const QString& name);

// True when a listed name counts as an index: it ends in "packages" in any
// letter case.
bool IsIndexName(const QString& name);

// Every entry of Folder that passes the listing rule, in the order the file
// system returns them (names only).
QStringList ListFolder(const QString& folder);

// The index files of Folder: ListFolder filtered by IsIndexName.
QStringList ListIndexFiles(const QString& folder);

} // namespace IndexStore
