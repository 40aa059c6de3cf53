#pragma once

#include "base/Outcome.h"
#include "base/WorkFolders.h"

#include <QStringList>

#include <array>
#include <optional>
#include <string>
#include <vector>

class TPhone;

// The Sync page's three package lists: the local cache, Cydia's cache and
// Cydia's automatic-installation folder on the phone.
enum class TCacheList { Local, Cache, AutoInstall };

// Names in the lists are file names in their place; an operation on a
// selected line works on the file of that name.
namespace PackageCaches {

// The packages of the local cache: entries of ArchivesDir ending in ".deb"
// in any letter case (a folder so named included). One whose stored name is
// not UTF-8 cannot be named again to be sent: it is added to Skipped with
// the reason instead.
QStringList LocalPackages(const QString& archivesDir, QStringList* skipped = nullptr);

// The packages among names listed in a phone folder: those ending exactly in
// ".deb" and usable as file names, in listing order; the others ending in
// ".deb" are added to Skipped with the reason.
QStringList PhonePackages(const std::vector<std::string>& listed, QStringList* skipped = nullptr);

// The phone folder a list shows ("" for the local cache).
const char* PhoneFolderOf(TCacheList list);

// The deletion question for a package name.
QString DeleteQuestion(const QString& name);

} // namespace PackageCaches

// A list's names as just read, or why its folder could not be read (the
// names are then empty).
struct TListedPackages {
    QStringList Names;
    TOutcome Outcome;
};

// The three lists read afresh: the local cache, then Cydia's cache, then its
// automatic-installation folder. None of the list operations enters a busy
// state or honours the stop flag: each runs to its end once started.
class TPackageListing {
public:
    TPackageListing(TPhone& phone, TWorkFolders folders);

    void Run();
    const TListedPackages& Listed(TCacheList list) const {
        return lists_[static_cast<std::size_t>(list)];
    }
    // The package names left out, as they cannot be file names: one message,
    // or none.
    QStringList Warnings() const;

private:
    TPhone& phone_;
    TWorkFolders folders_;
    std::array<TListedPackages, 3> lists_;
    QStringList skippedHere_, skippedThere_;
};

// One package of a list deleted, or one of the local cache copied into a
// phone folder (replacing a file of that name there); the list changed is
// read again.
class TPackageChange {
public:
    enum class TAction { Delete, CopyToPhone };

    // List is the list the package goes from (Delete) or to (CopyToPhone,
    // Cache or AutoInstall); Name is the selected line, the package's file
    // name in the local cache (CopyToPhone) or in List.
    TPackageChange(TPhone& phone, TWorkFolders folders, TAction action, TCacheList list,
                   QString name);

    // The change, then List read again: a deletion on the phone that did not
    // happen leaves it unread; a copy shows it again only when listed.
    void Run();
    const TOutcome& Outcome() const { return outcome_; }
    // List's names read again, or none.
    const std::optional<TListedPackages>& Relisted() const { return relisted_; }
    // The package that was not deleted or did not arrive, named with the
    // reason: one message, or none.
    QStringList Warnings() const;

private:
    TOutcome DeleteLocal();
    TOutcome DeleteOnPhone();
    TOutcome CopyToPhone();

    TPhone& phone_;
    TWorkFolders folders_;
    TAction action_;
    TCacheList list_;
    QString name_;
    TOutcome outcome_;
    std::optional<TListedPackages> relisted_;
};
