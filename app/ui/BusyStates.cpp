// The three busy states (refresh, download, sync), the window's busy look and
// the stop flag.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"

#include <QApplication>
#include <QGroupBox>
#include <QProgressBar>
#include <QTimer>

namespace {

void ShowStrip(QProgressBar* bar, const TToolButton& stop) {
    bar->setValue(0);
    bar->show();
    stop.SetShown(true);
    stop.SetEnabled(true);
}

void HideStrip(QProgressBar* bar, const TToolButton& stop) {
    stop.SetEnabled(false);
    stop.SetShown(false);
    bar->hide();
    bar->setValue(0);
}

} // namespace

void TfrmMain::SetStartButtonsShown(bool shown) {
    for (const TToolButton* start : {&sourcesPage_->SrcRefresh, &packagesPage_->PkgDownload}) {
        start->SetEnabled(shown);
        start->SetShown(shown);
    }
}

void TfrmMain::SetGroupsEnabled(bool enabled) {
    sourcesPage_->grpSources->setEnabled(enabled);
    packagesPage_->grpPackages->setEnabled(enabled);
    syncPage_->grpSync->setEnabled(enabled);
}

void TfrmMain::DrawRefreshStart() {
    SetStartButtonsShown(false);
    ShowStrip(sourcesPage_->prSrc, sourcesPage_->SrcStop);
    SetGroupsEnabled(false);
}

void TfrmMain::DrawRefreshStop() {
    HideStrip(sourcesPage_->prSrc, sourcesPage_->SrcStop);
    SetStartButtonsShown(true);
    SetGroupsEnabled(true);
}

void TfrmMain::DrawDownloadStart() {
    SetStartButtonsShown(false);
    ShowStrip(packagesPage_->prPkg, packagesPage_->PkgStop);
    SetGroupsEnabled(false);
}

void TfrmMain::DrawDownloadStop() {
    HideStrip(packagesPage_->prPkg, packagesPage_->PkgStop);
    SetStartButtonsShown(true);
    SetGroupsEnabled(true);
}

void TfrmMain::DrawSyncStart() {
    SetStartButtonsShown(false);
    ShowStrip(syncPage_->prSync, syncPage_->SyncStop);
    SetGroupsEnabled(false);
}

void TfrmMain::DrawSyncStop() {
    HideStrip(syncPage_->prSync, syncPage_->SyncStop);
    SetStartButtonsShown(true);
    SetGroupsEnabled(true);
}

void TfrmMain::BeginBusyLook() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    setWindowTitle(Texts::CaptionLoadingPackages());
    setEnabled(false);
    repaint();
    QApplication::processEvents();
}

void TfrmMain::EndBusyLook() {
    setWindowTitle(Texts::Caption());
    setEnabled(true);
    repaint();
    QApplication::restoreOverrideCursor();
    QApplication::processEvents();
}

void TfrmMain::btnSrcStopClick() {
    StopHttpPackages();
    stop_.Set();
}

void TfrmMain::btnPkgStopClick() {
    StopHttpFile();
    stop_.Set();
}

void TfrmMain::btnSyncStopClick() {
    stop_.Set();
}

void TfrmMain::BeginLongOperation() {
    // A close that is waiting for the work to end keeps the flag set, so that
    // whatever still starts stops at its first item.
    if (longOperations_ == 0 && !closePending_)
        stop_.Clear();
    ++longOperations_;
}

void TfrmMain::EndLongOperation() {
    if (longOperations_ > 0)
        --longOperations_;
    if (longOperations_ == 0 && closePending_ && !inStartup_)
        ScheduleClose();
}
