#pragma once

#include <QString>
#include <QStringList>

// What the phone copies need of the window: its caption, the Sync page's
// strip and lists, the deletion question, and a chance to handle pending
// events between files. The window implements it; tests record it.
class TDeviceView {
public:
    enum class Caption { Idle, CopyingFromPhone, CopyingToPhone, UpdatingFileLists };
    enum class List { Local, Cache, AutoInstall };

    virtual ~TDeviceView() = default;

    // Sets the window caption and paints the window at once.
    virtual void SetCaption(Caption caption) = 0;
    // Handles the window's pending events (a Stop press, a page switch).
    virtual void PumpMessages() = 0;
    // Enters (true) or leaves the sync busy state: the strip with its
    // progress bar at 0 and its Stop button, the start buttons hidden.
    virtual void SyncBusy(bool on) = 0;
    virtual void SetProgress(int percent) = 0;
    // Replaces the lines of one of the Sync page's package lists.
    virtual void ShowList(List list, const QStringList& names) = 0;
    // The selected line of a package list; empty when none is selected.
    virtual QString Selected(List list) const = 0;
    // Asks a Yes/No question; true for Yes.
    virtual bool Confirm(const QString& question) = 0;
    // Tells the user what a copy or listing left out and why, in the window
    // and on stderr.
    virtual void Warn(const QString& text) = 0;
};
