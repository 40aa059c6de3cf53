#pragma once

#include "base/WorkFolders.h"
#include "device/DeviceFiles.h"

#include <QSet>
#include <QStringList>

#include <optional>
#include <string>
#include <vector>

class TOperationReport;
class TPhone;
class TStopFlag;

// The names the copies of Cydia's source lists (one index file per source,
// in the phone's lists folder) take on either side.
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

// When the phone's lists folder cannot be read: the reason to show if its
// tree has the folder under "/var" but not "/private/var" (as some mounts of
// the tree give), else empty.
QString ListsFolderMisplaced(TPhone& phone);

} // namespace SourceSync

// The copy of the phone's source lists to the computer: every index file of
// the phone's lists folder into ListsDir (replacing the copy there) and, for
// ListsAndProc, into ProcDir when the store has no index of that repository;
// each goes through the working folder's scratch file
// DeviceFiles::FetchScratchName. The caller clears the stop flag when it
// starts; it is tested between files.
class TSourcesFromPhone {
public:
    enum class TTarget {
        Lists,        // the reference copies only (the start-up copy)
        ListsAndProc, // also the index store, for sources it does not have yet
    };

    TSourcesFromPhone(TPhone& phone, TWorkFolders folders, TTarget target, TStopFlag& stop,
                      TOperationReport& report);

    // The copy, its busy state shown throughout, each file announced
    // (ItemStarted) and the progress after each. True when the phone had
    // index files, so the caller reloads the catalogue (also after a stop).
    bool Run();
    // Every index file tried, in listing order; the files a stop left out
    // have none.
    const std::vector<TFileOutcome>& Outcomes() const { return outcomes_; }
    // What to tell the user, one message each: the index names left out and
    // the files that did not arrive or could not be stored, with their
    // reasons; then a lists folder found under "/var" only. Empty when all
    // went well or the phone is not there.
    QStringList Warnings() const;

private:
    // How the file went; none when a stop cut its fetch short.
    std::optional<TOutcome> Fetch(const QString& name);

    TPhone& phone_;
    TWorkFolders folders_;
    TTarget target_;
    TStopFlag& stop_;
    TOperationReport& report_;
    std::vector<TFileOutcome> outcomes_;
    QStringList skipped_; // index names no local file may take
    QString misplaced_;
    // The repositories the store has, under whatever name: the phone's name
    // for one of them must not list its packages a second time.
    QSet<QString> storedRepositories_;
};

// The copy of the computer's source lists to the phone: every index file of
// ListsDir into the phone's lists folder, replacing the files there. The
// first file the phone does not take ends the copy after that file and
// leaves the stop flag set. The caller clears the flag when it starts.
class TSourcesToPhone {
public:
    TSourcesToPhone(TPhone& phone, TWorkFolders folders, TStopFlag& stop, TOperationReport& report);

    // The copy, its busy state shown throughout, each file announced
    // (ItemStarted) and the progress after each.
    void Run();
    // Every file tried, in order; the last one failed when the phone refused
    // it.
    const std::vector<TFileOutcome>& Outcomes() const { return outcomes_; }
    // What to tell the user, one message each: the names left out, then the
    // lists folder found under "/var" only or else the file the phone
    // refused, with the reason. Empty when all went well.
    QStringList Warnings() const;

private:
    TPhone& phone_;
    TWorkFolders folders_;
    TStopFlag& stop_;
    TOperationReport& report_;
    std::vector<TFileOutcome> outcomes_;
    QStringList skipped_;
    QString misplaced_;
    TFileOutcome refused_; // the file the phone refused and why; no name when none
};
