// The window's side of the refresh: the refresh button and the catalogue
// reload. The walk itself is TRefresh's, run by the
// runner, whose signals the window draws.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/TfrmMain.h"
#include "net/HTTPGet.h"
#include "sources/Refresh.h"

void TfrmMain::SrcRefresh() {
    THTTPGet* http = controller_.HTTPGetPackages();
    if (!http)
        return;
    TRunner::TRun report(controller_.Runner(), TRunner::TKind::Refresh);
    TRefresh refresh(*http, controller_.Runner().StopFlag(), controller_.Folders().WorkDir,
                     controller_.Folders().ProcDir, report, controller_.Folders().ListsDir);
    refresh.Walk(sourcesPage_->Sources().Entries());
    const QString summary =
        sourcesPage_->ShowRefreshOutcomes(refresh.Outcomes(), controller_.Runner().StopRequested());
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
    packagesPage_->LearnIndexes();
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
