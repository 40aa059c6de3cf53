#pragma once

#include "base/WorkFolders.h"
#include "control/Runner.h"
#include "control/Settings.h"
#include "device/Phone.h"

#include <QObject>
#include <QString>

#include <memory>

class THTTPGet;
class TSourceList;

// The messages a person answers: an error with OK, a Yes/No question.
class TDialogs {
public:
    virtual ~TDialogs() = default;
    virtual void ShowError(const QString& text) = 0;
    // True for Yes.
    virtual bool Confirm(const QString& text) = 0;
};

// What the controller asks of whoever shows the program: the dialogs, and the
// steps of start-up and shutdown that belong to the pages.
class TControllerView : public TDialogs {
public:
    // Before the folders exist: pictures, idle strips, the first page.
    virtual void PrepareLook() = 0;
    // The folders are ready: the pages learn them and list the stored sources.
    virtual void FoldersReady(const TWorkFolders& folders) = 0;
    virtual void ShowWindow() = 0;
    virtual TSourceList& Sources() = 0;
    virtual TOptions Options() const = 0;
    virtual void ShowOptions(const TOptions& options) = 0;
    // Hourglass, caption and a disabled window around a reload of the list.
    virtual void SetBusyLook(bool busy) = 0;
    // The saved package list, built from the index store when it cannot be read.
    virtual void LoadCatalogue() = 0;
    // The catalogue written back when it was read in full.
    virtual void SaveCatalogue() = 0;
    virtual void RefreshSources() = 0;
    virtual void CopyListsFromPhone() = 0;
    virtual void CopyListsToPhone() = 0;
    // The list built again from the indexes after a refresh or a copy.
    virtual void ReloadCatalogue() = 0;
    virtual int ActivePage() const = 0;
    virtual void SetActivePage(int page) = 0;
    virtual void ShowShuttingDown() = 0;
    // Closes the window, which comes back through Close().
    virtual void CloseWindow() = 0;
};

// Where the program is in its life. A close asked for while start-up or a
// long operation runs waits (ClosePending) until they have ended.
enum class TLifecycle { NotStarted, Starting, Running, ClosePending, ShuttingDown, Closed };

// The program without its widgets: the working folders, the phone, the HTTP
// components, the runner of the long operations and the lifecycle. The window draws; the
// controller decides when start-up and shutdown run, in which order, and
// when a close may happen.
class TController : public QObject {
    Q_OBJECT
public:
    TController(const QString& programFilePath, TControllerView& view, QObject* parent = nullptr);
    ~TController() override;

    // The start-up sequence. False when the working folders cannot be
    // prepared: the error has been shown and the program should end.
    bool Start();
    // A close from the close box: true when the window may close now (the
    // shutdown has run, or there is nothing to save). False when it must wait
    // for start-up or an operation; the stop flag is raised and the window
    // closes as soon as they have ended.
    bool Close();
    // Closes the window the way its close box does, or arranges that it
    // closes once start-up and the operations have ended.
    void RequestClose();

    TLifecycle State() const { return state_; }
    // Start-up has ended and no close is waiting.
    bool Started() const { return state_ == TLifecycle::Running; }
    const TWorkFolders& Folders() const { return folders_; }
    TWorkFolders& Folders() { return folders_; }
    TPhone& Phone() { return phone_; }
    TRunner& Runner() { return runner_; }
    const TRunner& Runner() const { return runner_; }
    // The two HTTP components, created once start-up has prepared the folders
    // (null before, and after a failed start-up): package indexes for the
    // refresh, package files for the download.
    THTTPGet* HTTPGetPackages() const { return httpGetPackages_.get(); }
    THTTPGet* HTTPGetFile() const { return httpGetFile_.get(); }

private:
    void CreateHttpComponents();
    void LoadStartupState();
    void Shutdown();
    void ScheduleClose();
    // Close asked for while start-up or an operation runs.
    void HoldClose();

    QString programFilePath_;
    TControllerView& view_;
    TLifecycle state_ = TLifecycle::NotStarted;
    TWorkFolders folders_;
    TPhone phone_;
    std::unique_ptr<THTTPGet> httpGetPackages_;
    std::unique_ptr<THTTPGet> httpGetFile_;
    // Start-up runs as one of its long operations, so that a waiting close
    // waits for both alike.
    TRunner runner_;
};
