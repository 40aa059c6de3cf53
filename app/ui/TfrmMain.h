#pragma once

#include "base/LongOperation.h"
#include "base/Outcome.h"
#include "control/Controller.h"

#include <QWidget>

#include <array>
#include <memory>
#include <string>

class QStackedWidget;
class TMessageBoxes;
class TPackagesPage;
class TSettingsPage;
class TSidePanel;
class TSourcesPage;
class TStripPage;
class TSyncPage;

// The program's one window. Creating it (FormCreate) is the start-up, closing
// it (FormClose, from the close box or a termination request) the shutdown;
// the controller decides their order and owns the folders, the phone, the
// HTTP components and the lifecycle, while the window lays out the pages and
// draws.
class TfrmMain : public QWidget, private TControllerView {
    Q_OBJECT
public:
    enum TPage { PageSources = 0, PagePackages = 1, PageSync = 2, PageSettings = 3 };

    // Dialogs, when given, answers every error and question in place of the
    // window's own message boxes.
    explicit TfrmMain(const QString& programFilePath, TDialogs* dialogs = nullptr,
                      QWidget* parent = nullptr);
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

    // An error no operation handles (folder not creatable, settings file not
    // writable), also written to stderr, so a run without a display leaves a
    // trace; and a Yes/No question titled "Подтверждение", true for Yes.
    void ShowError(const QString& text) override;
    bool Confirm(const QString& text) override;

    int ActivePage() const override;
    void SetActivePage(int page) override;

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

    // What runs the long operations: their rules, busy states, stop flag and
    // progress.
    TRunner& Runner() { return controller_.Runner(); }
    // The phone operations through the plugin bound at start-up.
    TPhone& Phone() { return controller_.Phone(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // ---- pages ----
    void RedrawTabs();
    void panSourcesClick();
    void imgSourcesClick();
    void panPackagesClick();
    void imgPackagesClick();
    void panSyncClick();
    void imgSyncClick();
    void panSettingsClick();
    void imgSettingsClick();

    void btnSrcStopClick();
    void btnPkgStopClick();
    void btnSyncStopClick();

    void BeginLongOperation() { controller_.Runner().Begin(); }
    void EndLongOperation() { controller_.Runner().End(); }
    bool LongOperationRunning() const { return controller_.Runner().Running(); }

    void BuildWindow();
    void BuildSidePanels();
    void ConnectHandlers();
    void LoadPictures();
    void InstallHandCursor();
    void pgMainChange();
    // The close box's handler: the shutdown runs, or the close waits for
    // start-up or the operation running.
    void FormClose(QCloseEvent* event);
    std::array<TStripPage*, 3> StripPages() const;
    void SetStartButtonsShown(bool shown);
    void SetGroupsEnabled(bool enabled);
    // A page's strip shown busy or idle, the start buttons and groups with it.
    void DrawBusy(TStripPage* page, bool busy);
    void ConnectRunner();

    // The steps of start-up and shutdown the controller asks for.
    void PrepareLook() override;
    void FoldersReady(const TWorkFolders& folders) override;
    void ShowWindow() override;
    TSourceList& Sources() override;
    TOptions Options() const override;
    void ShowOptions(const TOptions& options) override;
    void SetBusyLook(bool busy) override;
    void LoadCatalogue() override;
    void SaveCatalogue() override;
    void RefreshSources() override { SrcRefresh(); }
    void CopyListsFromPhone() override { Phone2Comp(); }
    void CopyListsToPhone() override { btnComp2PhoneClick(); }
    void ReloadCatalogue() override { PkgsRefresh(); }
    void ShowShuttingDown() override;
    void CloseWindow() override { close(); }

    // Steps of the refresh, the download and the phone (RefreshOps,
    // DownloadOps, DeviceOps), wired into the start-up, the shutdown and the
    // buttons here.
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

    TController controller_;
    std::unique_ptr<TMessageBoxes> messageBoxes_; // the window's own dialogs
    TDialogs* dialogs_ = nullptr;                 // the ones answering

    QStackedWidget* pgMain = nullptr;
    std::array<TSidePanel*, 4> panels_{};
    TSourcesPage* sourcesPage_ = nullptr;
    TPackagesPage* packagesPage_ = nullptr;
    TSyncPage* syncPage_ = nullptr;
    TSettingsPage* settingsPage_ = nullptr;

    bool architectureOffered_ = false;
};
