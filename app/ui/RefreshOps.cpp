// The window's side of the refresh: the two HTTP components, the refresh
// button and the catalogue reload. The walk itself is TRefresh's; the window
// lends it the busy state, the source list and the progress bar.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"
#include "net/HTTPGet.h"
#include "sources/Refresh.h"

#include <QProgressBar>

namespace {

class TWindowRefreshView : public TRefreshView {
public:
    TWindowRefreshView(TfrmMain& frm, TSourcesPage& page) : frm_(frm), page_(page) {}

    void BeginWalk() override {
        frm_.BeginLongOperation();
        frm_.DrawRefreshStart();
        frm_.setWindowTitle(Texts::CaptionRefreshingSources());
    }
    void SelectEntry(int index) override { page_.SelectEntry(index); }
    void ShowProgress(int percent) override { page_.prSrc->setValue(percent); }
    void EndWalk() override {
        frm_.DrawRefreshStop();
        page_.SelectEntry(0);
        frm_.EndLongOperation();
    }

private:
    TfrmMain& frm_;
    TSourcesPage& page_;
};

} // namespace

void TfrmMain::CreateHttpComponents() {
    HTTPGetFile = new THTTPGet(this);
    connect(HTTPGetFile, &THTTPGet::OnProgress, this, &TfrmMain::HTTPGetFileProgress);
    HTTPGetPackages = new THTTPGet(this);
    connect(HTTPGetPackages, &THTTPGet::OnProgress, this, &TfrmMain::HTTPGetPackagesProgress);
    HTTPGetFile->UseCache = false;
    HTTPGetFile->BinaryData = true;
    HTTPGetPackages->UseCache = false;
    HTTPGetPackages->BinaryData = false;
    HTTPGetFile->Agent = HTTPGetPackages->Agent = QStringLiteral("Telesphoreo APT-HTTP/1.0.534");
}

void TfrmMain::HTTPGetPackagesProgress(THTTPGet*, qint64 TotalSize, qint64 Readed) {
    sourcesPage_->prSrc->setValue(HTTPGetRules::ProgressPercent(TotalSize, Readed));
}

void TfrmMain::HTTPGetFileProgress(THTTPGet*, qint64 TotalSize, qint64 Readed) {
    packagesPage_->prPkg->setValue(HTTPGetRules::ProgressPercent(TotalSize, Readed));
}

void TfrmMain::StopHttpPackages() {
    if (HTTPGetPackages)
        HTTPGetPackages->Stop();
}

void TfrmMain::StopHttpFile() {
    if (HTTPGetFile)
        HTTPGetFile->Stop();
}

void TfrmMain::SrcRefresh() {
    if (!HTTPGetPackages)
        return;
    TWindowRefreshView view(*this, *sourcesPage_);
    TRefresh refresh(*HTTPGetPackages, StopFlag(), folders_.WorkDir, folders_.ProcDir, view,
                     folders_.ListsDir);
    refresh.Walk(sourcesPage_->Sources().Entries());
    const QString summary =
        sourcesPage_->ShowRefreshOutcomes(refresh.Outcomes(), StopFlag().IsSet());
    if (!summary.isEmpty())
        ReportToStderr(summary);
}

void TfrmMain::PkgsRefresh() {
    BeginBusyLook();
    packagesPage_->LoadPackages();
    packagesPage_->SavePackageList();
    packagesPage_->ShowAllCategories();
    EndBusyLook();
    packagesPage_->HidePackageInfo();
}

void TfrmMain::btnSrcRefreshClick() {
    if (sourcesPage_->Sources().Count() == 0)
        return;
    // One long operation from the walk to the end of the reload: a close that
    // comes meanwhile stops the walk and waits for the reload, so that the
    // saved list matches the indexes the walk stored.
    BeginLongOperation();
    SrcRefresh();
    PkgsRefresh();
    EndLongOperation();
}
