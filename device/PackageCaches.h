#pragma once

#include "base/WorkFolders.h"
#include "device/DeviceView.h"

#include <QStringList>

#include <string>
#include <vector>

class TPhone;

// The Sync page's three package lists (the local cache, Cydia's cache and
// Cydia's automatic-installation folder on the phone) with the copy from the
// local cache to the phone and the deletions. None of these enters a busy
// state or honours the stop flag: each runs to its end once started. Names
// in the lists are file names in their place; an operation on a selected
// line works on the file of that name.
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
const char* PhoneFolderOf(TDeviceView::TList list);

// Fills the three lists: the local cache, then Cydia's cache, then its
// automatic-installation folder. A phone folder that cannot be listed shows
// empty; phone names that cannot be file names are left out with a warning.
void CacheRefresh(TPhone& phone, const TWorkFolders& folders, TDeviceView& view);

// Deletes the selected package of the local cache after the question, and
// lists the local cache again. Nothing happens without a selected line.
void DeleteLocal(const TWorkFolders& folders, TDeviceView& view);

// Deletes the selected package of a phone list (Cache or AutoInstall) after
// the question. When the phone removed it, the list is read again; when it
// did not, the user is told.
void DeleteOnPhone(TPhone& phone, TDeviceView::TList list, TDeviceView& view);

// Copies the selected package of the local cache into the phone folder of
// List (Cache or AutoInstall), replacing a file of that name there, and
// shows that folder again when it can be listed. A package that did not
// arrive is named in a warning.
void CopyToPhone(TPhone& phone, const TWorkFolders& folders, TDeviceView::TList list,
                 TDeviceView& view);

// The deletion question for a package name.
QString DeleteQuestion(const QString& name);

} // namespace PackageCaches
