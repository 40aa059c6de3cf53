// The three busy states (refresh, download, sync) and the window's busy look,
// drawn as the runner tells them, and the Stop buttons.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"

#include <QApplication>

std::array<TStripPage*, 3> TfrmMain::StripPages() const {
    return {sourcesPage_, packagesPage_, syncPage_};
}

void TfrmMain::SetStartButtonsShown(bool shown) {
    for (TStripPage* page : StripPages())
        page->SetStartShown(shown);
}

void TfrmMain::SetGroupsEnabled(bool enabled) {
    for (TStripPage* page : StripPages())
        page->SetGroupEnabled(enabled);
}

void TfrmMain::DrawBusy(TStripPage* page, bool busy) {
    if (busy)
        SetStartButtonsShown(false);
    page->SetBusy(busy);
    if (!busy)
        SetStartButtonsShown(true);
    SetGroupsEnabled(!busy);
}

void TfrmMain::DrawRefreshStart() {
    DrawBusy(sourcesPage_, true);
}

void TfrmMain::DrawRefreshStop() {
    DrawBusy(sourcesPage_, false);
}

void TfrmMain::DrawDownloadStart() {
    DrawBusy(packagesPage_, true);
}

void TfrmMain::DrawDownloadStop() {
    DrawBusy(packagesPage_, false);
}

void TfrmMain::DrawSyncStart() {
    DrawBusy(syncPage_, true);
}

void TfrmMain::DrawSyncStop() {
    DrawBusy(syncPage_, false);
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
                const auto pages = StripPages();
                if (strip == TStrip::Refresh)
                    pages[0]->SetProgress(percent);
                else if (strip == TStrip::Download)
                    pages[1]->SetProgress(percent);
                else if (strip == TStrip::Sync)
                    pages[2]->SetProgress(percent);
            });
    connect(&controller_.Runner(), &TRunner::ItemStarted, this,
            [this](TRunner::TKind kind, int index) {
                if (kind == TRunner::TKind::Refresh)
                    sourcesPage_->SelectEntry(index);
            });
}
