#pragma once

#include "base/Outcome.h"

#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <string>

// Naming and listing of the local index store. A source address and the name of
// its stored index turn into each other by two plain string rules; the same
// name is used in the store, in the reference copies and on the phone.
namespace IndexStore {

// "https://repo.example.org/my_repo/./Packages" ->
// "repo.example.org_my%5frepo_._Packages", as the phone's package manager
// names its lists: the scheme (any letter case) and credentials dropped, "_",
// "%", blanks and a few other characters quoted as "%xx", every "/" turned
// into "_".
QString AddressToIndexName(const QString& address);

// The way back: every "_" a "/", the quoted characters restored, the scheme
// put in front. A name stored by earlier versions (an unquoted "_" in it)
// reads as it always did.
QString IndexNameToAddress(const QString& name, bool https = false);

// The address without its "http://" or "https://" (any letter case).
QString StripScheme(const QString& address);

// What makes two addresses one repository: the same requests, whatever the
// scheme, letter case, quoting, doubled "/", "./" parts or a trailing
// "/Packages". "http://h/repo/./Packages" and "h/repo//Packages" -> "h/repo".
QString SourceKey(const QString& address);

// True when a listed name counts as an index: it ends in "packages" in any
// letter case.
bool IsIndexName(const QString& name);

// Every entry of Folder that passes the listing rule, in the order the file
// system returns them (names only).
QStringList ListFolder(const QString& folder);

// The index files of Folder: ListFolder filtered by IsIndexName. A name
// holding a control character is left out (added to Refused with the
// reason), so that no line break or tab reaches a source, the saved list or
// the phone.
QStringList ListIndexFiles(const QString& folder, QStringList* refused = nullptr);

// After a source's index was stored under Name: other index files of the same
// repository in ProcDir (names of earlier versions) go, so its packages are
// not listed twice; in ListsDir the reference copy moves to Name.
void RetireAliases(const QString& procDir, const QString& listsDir, const QString& name);

} // namespace IndexStore

// What a server said of the stored index's body, so that the next refresh
// asks whether it changed instead of fetching it whole. The validators stand
// for the stored file, not for the source: they hold only while the file is
// the one they were recorded with (the same size, time and inode).
struct TIndexValidators {
    QString Url; // the request that brought the index
    std::string ETag;
    std::string LastModified;
};

// The validators of ProcDir's indexes, kept in its "validators.txt". A
// missing, unreadable or hand-edited file (or line) only costs whole fetches.
class TValidatorStore {
public:
    explicit TValidatorStore(QString procDir);

    // The validators of the stored index Name, when they still stand for it.
    std::optional<TIndexValidators> For(const QString& name) const;
    // Records the validators of Name's stored index as it is on disk now
    // (none to send back: forgets them).
    void Record(const QString& name, const TIndexValidators& validators);
    // Writes the file (atomically), leaving out indexes that are gone; with
    // nothing to keep there is no file.
    TOutcome Save() const;

    static constexpr const char* FileName = "validators.txt";

private:
    struct TEntry {
        TIndexValidators Validators;
        std::string Identity; // size, time and inode of the file they stand for
    };
    QString procDir_;
    std::map<QString, TEntry> entries_;
};
