#pragma once

#include "base/WorkFolders.h"
#include "device/DeviceView.h"

#include <QStringList>

#include <string>
#include <vector>

class TPhone;
class TStopFlag;

// Copies of Cydia's source lists (one index file per source, in the phone's
// lists folder) between the phone and the computer. The caller clears the
// stop flag when it starts one of them; both test it between files.
namespace SourceSync {

// The index files among the names listed in the phone's lists folder: those
// ending exactly in "_Packages" (letter case counts), in listing order. An
// index name that cannot be a local file name (DeviceFiles::IsUsableName) is
// left out, with the name and the reason added to Skipped.
QStringList PhoneIndexNames(const std::vector<std::string>& listed, QStringList* skipped = nullptr);

// The index files of ListsDir that go to the phone: every entry whose name
// ends in "packages" in any letter case, in listing order. One whose name
// could not be a phone file name is left out, with the reason in Skipped.
QStringList ListsToSend(const QString& listsDir, QStringList* skipped = nullptr);

enum class Target {
    Lists,        // the reference copies only (the start-up copy)
    ListsAndProc, // also the index store, for sources it does not have yet
};

// Fetches every index file of the phone's lists folder into ListsDir
// (replacing the copy there) and, for ListsAndProc, into ProcDir when that
// has no file of the name; each goes through the working folder's scratch
// file DeviceFiles::FetchScratchName. Shows the sync busy state and its
// caption while it runs, the progress before each file, ends with the
// caption "Orvia", and then warns of the index names it skipped and of the
// files the phone did not give (a stop leaves the rest out without a word).
// True when the phone had index files, so the caller reloads the catalogue
// (also after a stop).
bool FromPhone(TPhone& phone, const TWorkFolders& folders, Target target, TStopFlag& stop,
               TDeviceView& view);

// When the phone's lists folder cannot be read: the reason to show if its
// tree has the folder under "/var" but not "/private/var" (as some mounts of
// the tree give), else empty. Both copies say it in the window (Warn).
QString ListsFolderMisplaced(TPhone& phone);

// Sends every index file of ListsDir to the phone's lists folder, replacing
// the files there. The first file the phone does not take ends the run after
// that file and leaves the stop flag set; the warning names it.
void ToPhone(TPhone& phone, const TWorkFolders& folders, TStopFlag& stop, TDeviceView& view);

} // namespace SourceSync
