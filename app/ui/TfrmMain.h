#pragma once

#include "base/LongOperation.h"
#include "base/Outcome.h"
#include "base/WorkFolders.h"
#include "control/Runner.h"
#include "device/Phone.h"

#include <QWidget>

#include <array>
#include <functional>
#include <string>

class QStackedWidget;
class TPackagesPage;
class TSettingsPage;
class TSidePanel;
class TSourcesPage;
class TSyncPage;
class THTTPGet;

// The program's one window. Creating it (FormCreate) is the start-up, closing
// it (FormClose, from the close box or a termination request) the shutdown.
// All program state lives here: the working folders, the flags, the pages.
class TfrmMain : public QWidget {
    Q_OBJECT
public:
    enum Page { PageSources = 0, PagePackages = 1, PageSync = 2, PageSettings = 3 };

    explicit TfrmMain(const QString& programFilePath, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The start-up sequence. False when the working folders cannot be
    // prepared: the error has been shown and the program should end.
    bool FormCreate();
    // Closes the window through the normal shutdown, as its close box does. A
    // running long operation is asked to stop first and the window closes when
    // it has ended; a request during start-up closes right after start-up.
    void RequestClose();
    // A termination request (SIGTERM, SIGINT, SIGHUP): an open dialog is
    // answered the safe way (an error with OK, a question with No) and the
    // window closes as RequestClose closes it. A logout or a service manager
    // never clicks, so no dialog may hold the shutdown up.
    void Terminate();

    // Shows an error no operation handles (folder not creatable, settings file
    // not writable); the default also writes it to stderr, so a run without a
    // display leaves a trace. Replaceable so that tests can capture it.
    std::function<void(const QString& text)> ShowError;
    // Asks a Yes/No question titled "Подтверждение"; true for Yes.
    std::function<bool(const QString& text)> Confirm;

    // ---- pages ----
    int ActivePage() const;
    void SetActivePage(int page);
    void RedrawTabs();
    void panSourcesClick();
    void imgSourcesClick();
    void panPackagesClick();
    void imgPackagesClick();
    void panSyncClick();
    void imgSyncClick();
    void panSettingsClick();
    void imgSettingsClick();

    // ---- busy states ----
    void DrawRefreshStart();
    void DrawRefreshStop();
    void DrawDownloadStart();
    void DrawDownloadStop();
    void DrawSyncStart();
    void DrawSyncStop();
    // The whole window made busy around a reload of the catalogue: hourglass,
    // caption, window disabled; and back.
    void BeginBusyLook();
    void EndBusyLook();

    void btnSrcStopClick();
    void btnPkgStopClick();
    void btnSyncStopClick();

    // A long operation brackets its work with these; between its items it
    // tests StopRequested(). Begin clears the stop flag unless the window is
    // waiting to close.
    void BeginLongOperation() { runner_.Begin(); }
    void EndLongOperation() { runner_.End(); }
    bool LongOperationRunning() const { return runner_.Running(); }
    bool StopRequested() const { return runner_.StopRequested(); }
    // What runs the long operations: their rules, busy states, stop flag and
    // progress.
    TRunner& Runner() { return runner_; }

    // The two HTTP components, created at start-up with the window as owner:
    // package indexes (the refresh) and package files (the download).
    THTTPGet* HTTPGetPackages = nullptr;
    THTTPGet* HTTPGetFile = nullptr;

    // ---- state for the operations and for tests ----
    const TWorkFolders& Folders() const { return folders_; }
    bool StartupDone() const { return startupDone_; }
    TSourcesPage* SourcesPage() const { return sourcesPage_; }
    TPackagesPage* PackagesPage() const { return packagesPage_; }
    TSyncPage* SyncPage() const { return syncPage_; }
    TSettingsPage* SettingsPage() const { return settingsPage_; }
    // The phone operations through the plugin bound at start-up.
    TPhone& Phone() { return phone_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void BuildWindow();
    void BuildSidePanels();
    void ConnectHandlers();
    void LoadPictures();
    void InstallHandCursor();
    void pgMainChange();
    void FormClose();
    void ScheduleClose();
    void SetStartButtonsShown(bool shown);
    void SetGroupsEnabled(bool enabled);
    void ConnectRunner();

    // Steps of the refresh, the download, the phone and the HTTP components
    // (RefreshOps, DownloadOps, DeviceOps), wired into the start-up, the
    // shutdown and the buttons here.
    void BindPlugin();
    void ReleasePlugin();
    void CreateHttpComponents();
    void SrcRefresh();
    void Phone2Comp();
    void PkgsRefresh();
    void CacheRefresh();
    void btnSrcRefreshClick();
    void btnPkgDownloadClick();
    void btnComp2PhoneClick();

    // The phone's side of the Sync page (DeviceOps.cpp).
    void ConnectDeviceHandlers();
    void btnPhone2CompClick();
    void btnCopy2CacheClick();
    void btnCopy2AutoInstallClick();
    void btnDeleteLocalClick();
    void btnDeleteCacheClick();
    void btnDeleteAutoInstallClick();

    // The phone's architecture (ArchitectureOps.cpp): asked for with the
    // Settings page's button, and offered once after the first copy from the
    // phone while every architecture is listed.
    void btnPhoneArchitectureClick();
    void OfferPhoneArchitecture();
    TOutcome ReadPhoneArchitecture(std::string& architecture);

    QString programFilePath_;
    TWorkFolders folders_;

    QStackedWidget* pgMain = nullptr;
    std::array<TSidePanel*, 4> panels_{};
    TSourcesPage* sourcesPage_ = nullptr;
    TPackagesPage* packagesPage_ = nullptr;
    TSyncPage* syncPage_ = nullptr;
    TSettingsPage* settingsPage_ = nullptr;

    bool startupDone_ = false;
    bool inStartup_ = false;
    bool created_ = false;      // start-up ran to its end
    bool closePending_ = false; // a close waits for start-up or an operation
    bool shutdownDone_ = false;
    bool terminating_ = false; // a termination signal arrived: no dialog may wait
    TRunner runner_;
    TPhone phone_;
    bool architectureOffered_ = false;
};
