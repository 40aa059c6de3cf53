// The window's side of the phone: the copies of the source lists to and from
// the phone and the Sync page's package lists. The work is the device core's
// (TSourcesFromPhone, TSourcesToPhone, TPackageListing, TPackageChange),
// started through the runner, which decides what may start and carries the
// busy state, caption and progress; these methods connect the page's signals
// to runs and show what the runs report.
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "base/Outcome.h"
#include "device/PackageCaches.h"
#include "device/SourceSync.h"
#include "sources/IndexStore.h"

namespace {

using TKind = TRunner::TKind;
using TCaption = TRunner::TCaption;

constexpr TCacheList AllLists[] = {TCacheList::Local, TCacheList::Cache, TCacheList::AutoInstall};

// Runs Operation with Caption in the window's title until it ends.
template <typename TOperation>
auto RunCaptioned(TRunner& runner, TOperation& operation, TCaption caption) {
    runner.ShowCaption(caption);
    struct TIdleCaption {
        TRunner& Runner;
        ~TIdleCaption() { Runner.ShowCaption(TCaption::Idle); }
    } idle{runner};
    return operation.Run();
}

// What an operation has to tell the user: each in a dialog (whose text goes
// to stderr as well), or on stderr only when Quiet.
void Say(TfrmMain& frm, const QStringList& warnings, bool quiet = false) {
    for (const QString& text : warnings) {
        if (quiet)
            ReportToStderr(text);
        else
            frm.ShowError(text);
    }
}

// A list as just read. Why a phone folder could not be read is shown quietly
// over its list, since the lists are filled on every switch to the page, and
// said on stderr once for as long as it stays the same.
void ShowListed(TSyncPage& page, TCacheList list, const TListedPackages& listed) {
    page.ShowNames(list, listed.Names);
    if (page.ShowListProblem(list, listed.Outcome.Reason) && !listed.Outcome)
        ReportToStderr(
            QStringLiteral("Папка телефона %1 не прочитана: %2")
                .arg(QString::fromUtf8(PackageCaches::PhoneFolderOf(list)), listed.Outcome.Reason));
}

// A deletion (after the question) or a copy to the phone of the selected
// package, when the runner lets it start.
void ChangePackage(TfrmMain& frm, TSyncPage& page, const TWorkFolders& folders,
                   TPackageChange::TAction action, TCacheList list) {
    const bool deletion = action == TPackageChange::TAction::Delete;
    const TKind kind =
        deletion && list == TCacheList::Local ? TKind::LocalDelete : TKind::PackageList;
    if (!frm.Runner().MayStart(kind))
        return;
    TRunner::TRun run(frm.Runner(), kind);
    const QString selected = page.Selected(deletion ? list : TCacheList::Local);
    if (selected.isEmpty())
        return;
    if (deletion && !frm.Confirm(PackageCaches::DeleteQuestion(selected)))
        return;
    TPackageChange change(frm.Phone(), folders, action, list, selected);
    if (kind == TKind::LocalDelete)
        change.Run();
    else
        RunCaptioned(frm.Runner(), change, TCaption::UpdatingFileLists);
    if (change.Relisted())
        ShowListed(page, list, *change.Relisted());
    Say(frm, change.Warnings());
}

} // namespace

void TfrmMain::ConnectDeviceHandlers() {
    connect(syncPage_, &TSyncPage::sourcesToPhoneClicked, this, &TfrmMain::btnComp2PhoneClick);
    connect(syncPage_, &TSyncPage::sourcesFromPhoneClicked, this, &TfrmMain::btnPhone2CompClick);
    connect(syncPage_, &TSyncPage::copyClicked, this, [this](TCacheList target) {
        if (target == TCacheList::Cache)
            btnCopy2CacheClick();
        else
            btnCopy2AutoInstallClick();
    });
    connect(syncPage_, &TSyncPage::deleteClicked, this, [this](TCacheList list) {
        if (list == TCacheList::Local)
            btnDeleteLocalClick();
        else if (list == TCacheList::Cache)
            btnDeleteCacheClick();
        else
            btnDeleteAutoInstallClick();
    });
}

// The phone's calls run on a worker while the window keeps handling its
// events, so a click can arrive while a phone operation waits; the runner
// then refuses what may not start beside it (TRunner::MayStart).

void TfrmMain::Phone2Comp() {
    TRunner& runner = controller_.Runner();
    if (!runner.MayStart(TKind::SourceCopy))
        return;
    TRunner::TRun run(runner, TKind::SourceCopy);
    TSourcesFromPhone copy(controller_.Phone(), controller_.Folders(),
                           TSourcesFromPhone::TTarget::Lists, runner.StopFlag(), run);
    const bool listed = RunCaptioned(runner, copy, TCaption::CopyingFromPhone);
    Say(*this, copy.Warnings());
    if (listed && !runner.StopRequested())
        OfferPhoneArchitecture();
}

void TfrmMain::btnPhone2CompClick() {
    TRunner& runner = controller_.Runner();
    if (!runner.MayStart(TKind::SourceCopy))
        return;
    TRunner::TRun run(runner, TKind::SourceCopy);
    // The list keeps its order, marks and deletions; only the repositories
    // the phone brought into the store are added.
    const QStringList stored = IndexStore::ListIndexFiles(controller_.Folders().ProcDir);
    const QSet<QString> known(stored.begin(), stored.end());
    TSourcesFromPhone copy(controller_.Phone(), controller_.Folders(),
                           TSourcesFromPhone::TTarget::ListsAndProc, runner.StopFlag(), run);
    const bool listed = RunCaptioned(runner, copy, TCaption::CopyingFromPhone);
    Say(*this, copy.Warnings());
    if (!listed)
        return;
    sourcesPage_->AddNewFromStore(controller_.Folders().ProcDir, known);
    if (!runner.StopRequested())
        OfferPhoneArchitecture(); // before the reload, which then lists the choice
    PkgsRefresh();
}

void TfrmMain::btnComp2PhoneClick() {
    TRunner& runner = controller_.Runner();
    if (!runner.MayStart(TKind::SourceCopy))
        return;
    TRunner::TRun run(runner, TKind::SourceCopy);
    TSourcesToPhone copy(controller_.Phone(), controller_.Folders(), runner.StopFlag(), run);
    RunCaptioned(runner, copy, TCaption::CopyingToPhone);
    // What the copy at shutdown could not send is said on stderr only, so
    // that no dialog holds the shutdown up.
    Say(*this, copy.Warnings(), controller_.State() == TLifecycle::ShuttingDown);
}

void TfrmMain::CacheRefresh() {
    TRunner& runner = controller_.Runner();
    if (!runner.MayStart(TKind::ListRefresh))
        return;
    TRunner::TRun run(runner, TKind::ListRefresh);
    for (const TCacheList list : AllLists)
        syncPage_->ShowNames(list, {});
    TPackageListing listing(controller_.Phone(), controller_.Folders());
    RunCaptioned(runner, listing, TCaption::UpdatingFileLists);
    for (const TCacheList list : AllLists)
        ShowListed(*syncPage_, list, listing.Listed(list));
    Say(*this, listing.Warnings());
}

void TfrmMain::btnCopy2CacheClick() {
    ChangePackage(*this, *syncPage_, controller_.Folders(), TPackageChange::TAction::CopyToPhone,
                  TCacheList::Cache);
}

void TfrmMain::btnCopy2AutoInstallClick() {
    ChangePackage(*this, *syncPage_, controller_.Folders(), TPackageChange::TAction::CopyToPhone,
                  TCacheList::AutoInstall);
}

void TfrmMain::btnDeleteLocalClick() {
    ChangePackage(*this, *syncPage_, controller_.Folders(), TPackageChange::TAction::Delete,
                  TCacheList::Local);
}

void TfrmMain::btnDeleteCacheClick() {
    ChangePackage(*this, *syncPage_, controller_.Folders(), TPackageChange::TAction::Delete,
                  TCacheList::Cache);
}

void TfrmMain::btnDeleteAutoInstallClick() {
    ChangePackage(*this, *syncPage_, controller_.Folders(), TPackageChange::TAction::Delete,
                  TCacheList::AutoInstall);
}
