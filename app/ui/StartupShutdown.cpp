// The window's side of start-up and shutdown: the steps the controller runs
// in its order, each one what the pages show or keep.
#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "app/ui/SidePanels.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QLabel>
#include <QPixmap>
#include <QScreen>

void TfrmMain::LoadPictures() {
    LoadPNG(QStringLiteral("TAB_SOURCES"), panels_[0]->Image());
    LoadPNG(QStringLiteral("TAB_PACKAGES"), panels_[1]->Image());
    LoadPNG(QStringLiteral("TAB_SYNC"), panels_[2]->Image());
    LoadPNG(QStringLiteral("TAB_SETTINGS"), panels_[3]->Image());
    sourcesPage_->LoadPictures();
    packagesPage_->LoadPictures();
    syncPage_->LoadPictures();
    settingsPage_->LoadPictures();
}

void TfrmMain::InstallHandCursor() {
    QPixmap hand;
    if (!hand.load(QStringLiteral(":/png/HAND")))
        return;
    const QCursor cursor(hand, 11, 1); // the fingertip
    for (const char* name : {"lblAuthor", "lblSite"}) {
        if (auto* label = packagesPage_->findChild<QLabel*>(QString::fromUtf8(name)))
            label->setCursor(cursor);
    }
}

bool TfrmMain::FormCreate() {
    return controller_.Start();
}

void TfrmMain::FormClose(QCloseEvent* event) {
    if (controller_.Close())
        event->accept();
    else
        event->ignore();
}

void TfrmMain::PrepareLook() {
    LoadPictures();
    packagesPage_->SetBackPositionNone();
    DrawRefreshStop();
    DrawDownloadStop();
    DrawSyncStop();
    SetActivePage(PageSources);
    RedrawTabs();
    InstallHandCursor();
}

void TfrmMain::FoldersReady(const TWorkFolders& folders) {
    packagesPage_->SetFolders(folders);
    packagesPage_->HidePackageInfo();
    sourcesPage_->LoadSources(folders.ProcDir);
}

void TfrmMain::ShowWindow() {
    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    repaint();
}

TSourceList& TfrmMain::Sources() {
    return sourcesPage_->Sources();
}

TOptions TfrmMain::Options() const {
    return settingsPage_->Options();
}

void TfrmMain::ShowOptions(const TOptions& options) {
    settingsPage_->SetOptions(options);
    sourcesPage_->SyncFromModel(); // the check marks the settings brought
}

void TfrmMain::SetBusyLook(bool busy) {
    if (busy)
        BeginBusyLook();
    else
        EndBusyLook();
}

void TfrmMain::LoadCatalogue() {
    if (!packagesPage_->LoadPackageList(std::string())) {
        packagesPage_->LoadPackages();
        packagesPage_->SavePackageList();
    }
    packagesPage_->LearnIndexes();
}

void TfrmMain::SaveCatalogue() {
    if (packagesPage_->LoadPackageList(std::string()))
        packagesPage_->SavePackageList();
}

void TfrmMain::ShowShuttingDown() {
    setWindowTitle(Captions::CaptionShuttingDown());
    repaint();
}
