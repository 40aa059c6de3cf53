// The three busy states (refresh, download, sync) and the window's busy look,
// drawn as the runner tells them, and the Stop buttons.
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
    setWindowTitle(Captions::CaptionLoadingPackages());
    setEnabled(false);
    repaint();
    LongOperation::HandlePendingEvents();
}

void TfrmMain::EndBusyLook() {
    setWindowTitle(Captions::Caption());
    setEnabled(true);
    repaint();
    QApplication::restoreOverrideCursor();
    LongOperation::HandlePendingEvents();
}

void TfrmMain::btnSrcStopClick() {
    controller_.Runner().Stop();
}

void TfrmMain::btnPkgStopClick() {
    controller_.Runner().Stop();
}

void TfrmMain::btnSyncStopClick() {
    controller_.Runner().Stop();
}

namespace {

QString CaptionText(TRunner::TCaption caption) {
    using C = TRunner::TCaption;
    switch (caption) {
    case C::RefreshingSources:
        return Captions::CaptionRefreshingSources();
    case C::DownloadingPackages:
        return Captions::CaptionDownloadingPackages();
    case C::CopyingFromPhone:
        return Captions::CaptionCopyingFromPhone();
    case C::CopyingToPhone:
        return Captions::CaptionCopyingToPhone();
    case C::UpdatingFileLists:
        return Captions::CaptionUpdatingFileLists();
    case C::Idle:
        break;
    }
    return Captions::Caption();
}

} // namespace

void TfrmMain::ConnectRunner() {
    using TStrip = TRunner::TStrip;
    connect(&controller_.Runner(), &TRunner::StripShown, this, [this](TStrip strip, bool shown) {
        switch (strip) {
        case TStrip::Refresh:
            if (shown) {
                DrawRefreshStart();
            } else {
                DrawRefreshStop();
                sourcesPage_->SelectEntry(0);
            }
            break;
        case TStrip::Download:
            shown ? DrawDownloadStart() : DrawDownloadStop();
            break;
        case TStrip::Sync:
            shown ? DrawSyncStart() : DrawSyncStop();
            break;
        case TStrip::None:
            break;
        }
    });
    connect(&controller_.Runner(), &TRunner::CaptionChanged, this,
            [this](TRunner::TCaption caption) {
                setWindowTitle(CaptionText(caption));
                repaint();
            });
    connect(&controller_.Runner(), &TRunner::ProgressChanged, this,
            [this](TStrip strip, int percent) {
                QProgressBar* bar = strip == TStrip::Refresh    ? sourcesPage_->prSrc
                                    : strip == TStrip::Download ? packagesPage_->prPkg
                                    : strip == TStrip::Sync     ? syncPage_->prSync
                                                                : nullptr;
                if (bar)
                    bar->setValue(percent);
            });
    connect(&controller_.Runner(), &TRunner::ItemStarted, this,
            [this](TRunner::TKind kind, int index) {
                if (kind == TRunner::TKind::Refresh)
                    sourcesPage_->SelectEntry(index);
            });
}
