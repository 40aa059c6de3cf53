#pragma once

#include "base/LongOperation.h"

#include <QString>
#include <QStringList>

// What the phone copies need of the window: its caption, the Sync page's
// strip (the report's busy state and progress) and lists, the deletion
// question, and a chance to handle pending events between files. The window
// implements it; tests record it.
class TDeviceView : public TOperationReport {
public:
    enum class TCaption { Idle, CopyingFromPhone, CopyingToPhone, UpdatingFileLists };
    enum class TList { Local, Cache, AutoInstall };

    // Sets the window caption and paints the window at once.
    virtual void SetCaption(TCaption caption) = 0;
    // Handles the window's pending events (a Stop press, a page switch).
    virtual void PumpMessages() = 0;
    // Replaces the lines of one of the Sync page's package lists.
    virtual void ShowList(TList list, const QStringList& names) = 0;
    // The selected line of a package list; empty when none is selected.
    virtual QString Selected(TList list) const = 0;
    // Asks a Yes/No question; true for Yes.
    virtual bool Confirm(const QString& question) = 0;
    // Tells the user what a copy or listing left out and why, in the window
    // and on stderr.
    virtual void Warn(const QString& text) = 0;
};
