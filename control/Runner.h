#pragma once

#include "base/LongOperation.h"

#include <QObject>

// Runs the program's long operations: the refresh walk, the package download,
// the copies to and from the phone and the Sync page's list operations. It
// owns what may start while another runs, the busy state and caption (as
// signals the window draws), the one stop flag and the one progress path.
// Nothing here draws: the window listens.
class TRunner : public QObject {
    Q_OBJECT
public:
    enum class TKind {
        Refresh,     // the walk over the sources
        Download,    // the marked packages
        SourceCopy,  // the source lists to or from the phone
        PhoneAsk,    // a question to the phone (its architecture)
        ListRefresh, // the Sync page's lists filled again
        PackageList, // a copy or deletion of a Sync page list's package
        LocalDelete, // a deletion in the local cache
    };
    // The strips with a progress bar and a Stop button.
    enum class TStrip { None, Refresh, Download, Sync };
    enum class TCaption {
        Idle,
        RefreshingSources,
        DownloadingPackages,
        CopyingFromPhone,
        CopyingToPhone,
        UpdatingFileLists
    };

    using QObject::QObject;

    // Whether an operation of Kind may start now. A phone operation waits in
    // the event loop, so a click can arrive meanwhile: the phone then takes no
    // second copy, and the lists being filled are not filled twice.
    bool MayStart(TKind kind) const;
    // A long operation is running (the window closes when it has ended).
    bool Running() const { return running_ > 0; }

    TStopFlag& StopFlag() { return stop_; }
    bool StopRequested() const { return stop_.IsSet(); }
    // The Stop button: the flag is set, and its raise ends the transfer or
    // phone copy under way at once.
    void Stop() { stop_.Set(); }
    // A close waits for the running work: the flag is set and stays set for
    // whatever still starts, so that it stops at its first item.
    void StopAndHold();

    // A long operation's bracket: the first one clears the stop flag (unless
    // held); when the last one ends, Idle() is emitted.
    void Begin();
    void End();

    void ShowCaption(TCaption caption) { emit CaptionChanged(caption); }

    // One run of an operation for as long as it lives: counted for
    // MayStart, bracketed as a long operation where the kind is one, and the
    // report its core class takes.
    class TRun : public TOperationReport {
    public:
        TRun(TRunner& runner, TKind kind);
        ~TRun() override;
        TRun(const TRun&) = delete;
        TRun& operator=(const TRun&) = delete;

        void Busy(bool on) override;
        void ItemStarted(int index) override;
        void Progress(int percent) override;

    private:
        TRunner& runner_;
        TKind kind_;
        int* counter_;
    };

signals:
    // A strip is shown (true) or hidden, and the start buttons with it.
    void StripShown(TRunner::TStrip strip, bool shown);
    void CaptionChanged(TRunner::TCaption caption);
    void ProgressChanged(TRunner::TStrip strip, int percent);
    // An operation turned to its item Index.
    void ItemStarted(TRunner::TKind kind, int index);
    // The last long operation ended.
    void Idle();

private:
    // The count of running operations Kind belongs to; none for some.
    int* CounterOf(TKind kind);

    TStopFlag stop_;
    bool held_ = false;
    int running_ = 0;
    int sourceCopies_ = 0; // the phone's source lists (and questions) in use
    int listOperations_ = 0;
};
