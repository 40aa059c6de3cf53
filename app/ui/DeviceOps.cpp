// The window's side of the phone: binding the plugin, the copies of the
// source lists to and from the phone, and the Sync page's package lists. The
// work itself is the device core's, started through the runner (which decides
// what may start and carries the busy state, caption and progress); these
// methods only connect it to the window's lists and questions.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"
#include "base/Outcome.h"
#include "device/DeviceView.h"
#include "device/PackageCaches.h"
#include "device/SourceSync.h"
#include "sources/IndexStore.h"

#include <QListWidget>
#include <QToolButton>

#include <functional>

namespace {

// The window as the device core sees it.
// Its busy state, caption and progress go to the runner.
class TWindowDeviceView final : public TDeviceView {
public:
    // A quiet view says its warnings on stderr only.
    TWindowDeviceView(TfrmMain& frm, TSyncPage& page, TRunner::TRun& run, bool quiet)
        : frm_(frm), page_(page), run_(run), quiet_(quiet) {}

    void SetCaption(TCaption caption) override { frm_.Runner().ShowCaption(CaptionOf(caption)); }
    void PumpMessages() override { LongOperation::HandlePendingEvents(); }
    void Busy(bool on) override { run_.Busy(on); }
    void Progress(int percent) override { run_.Progress(percent); }
    void ShowList(TList list, const QStringList& names) override {
        TSyncPage::ShowNames(ListOf(list), names);
    }
    QString Selected(TList list) const override {
        const QList<QListWidgetItem*> items = ListOf(list)->selectedItems();
        return items.isEmpty() ? QString() : items.first()->text();
    }
    bool Confirm(const QString& question) override { return frm_.Confirm(question); }
    void Warn(const QString& text) override {
        if (!quiet_)
            frm_.ShowError(text); // the dialog's text goes to stderr as well
        else
            ReportToStderr(text);
    }

private:
    static TRunner::TCaption CaptionOf(TCaption caption) {
        switch (caption) {
        case TCaption::CopyingFromPhone:
            return TRunner::TCaption::CopyingFromPhone;
        case TCaption::CopyingToPhone:
            return TRunner::TCaption::CopyingToPhone;
        case TCaption::UpdatingFileLists:
            return TRunner::TCaption::UpdatingFileLists;
        case TCaption::Idle:
            break;
        }
        return TRunner::TCaption::Idle;
    }
    QListWidget* ListOf(TList list) const {
        switch (list) {
        case TList::Cache:
            return page_.lstCache;
        case TList::AutoInstall:
            return page_.lstAutoInstall;
        case TList::Local:
            break;
        }
        return page_.lstLocalCache;
    }

    TfrmMain& frm_;
    TSyncPage& page_;
    TRunner::TRun& run_;
    bool quiet_;
};

// Runs one phone operation when the runner lets it start; false when not.
bool RunOnPhone(TfrmMain& frm, TSyncPage& page, TRunner::TKind kind,
                const std::function<void(TDeviceView& view)>& work, bool quiet = false) {
    if (!frm.Runner().MayStart(kind))
        return false;
    TRunner::TRun run(frm.Runner(), kind);
    TWindowDeviceView view(frm, page, run, quiet);
    work(view);
    return true;
}

} // namespace

void TfrmMain::ConnectDeviceHandlers() {
    const auto on = [this](const TToolButton& button, void (TfrmMain::*handler)()) {
        connect(button.Btn, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(syncPage_->Comp2Phone, &TfrmMain::btnComp2PhoneClick);
    on(syncPage_->Phone2Comp, &TfrmMain::btnPhone2CompClick);
    on(syncPage_->Copy2Cache, &TfrmMain::btnCopy2CacheClick);
    on(syncPage_->Copy2AutoInstall, &TfrmMain::btnCopy2AutoInstallClick);
    on(syncPage_->DeleteLocal, &TfrmMain::btnDeleteLocalClick);
    on(syncPage_->DeleteCache, &TfrmMain::btnDeleteCacheClick);
    on(syncPage_->DeleteAutoInstall, &TfrmMain::btnDeleteAutoInstallClick);
}

// The phone's calls run on a worker while the window keeps handling its
// events, so a click can arrive while a phone operation waits; the runner
// then refuses what may not start beside it (TRunner::MayStart).

void TfrmMain::Phone2Comp() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::SourceCopy, [this](TDeviceView& view) {
        if (SourceSync::FromPhone(controller_.Phone(), controller_.Folders(),
                                  SourceSync::Target::Lists, controller_.Runner().StopFlag(),
                                  view) &&
            !controller_.Runner().StopRequested())
            OfferPhoneArchitecture();
    });
}

void TfrmMain::btnPhone2CompClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::SourceCopy, [this](TDeviceView& view) {
        // The list keeps its order, marks and deletions; only the
        // repositories the phone brought into the store are added.
        const QStringList stored = IndexStore::ListIndexFiles(controller_.Folders().ProcDir);
        const QSet<QString> known(stored.begin(), stored.end());
        if (!SourceSync::FromPhone(controller_.Phone(), controller_.Folders(),
                                   SourceSync::Target::ListsAndProc,
                                   controller_.Runner().StopFlag(), view))
            return;
        sourcesPage_->AddNewFromStore(controller_.Folders().ProcDir, known);
        if (!controller_.Runner().StopRequested())
            OfferPhoneArchitecture(); // before the reload, which then lists the choice
        PkgsRefresh();
    });
}

void TfrmMain::btnComp2PhoneClick() {
    // What the copy at shutdown could not send is said on stderr only, so
    // that no dialog holds the shutdown up.
    RunOnPhone(
        *this, *syncPage_, TRunner::TKind::SourceCopy,
        [this](TDeviceView& view) {
            SourceSync::ToPhone(controller_.Phone(), controller_.Folders(),
                                controller_.Runner().StopFlag(), view);
        },
        controller_.State() == TLifecycle::ShuttingDown);
}

void TfrmMain::CacheRefresh() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::ListRefresh, [this](TDeviceView& view) {
        PackageCaches::CacheRefresh(controller_.Phone(), controller_.Folders(), view);
    });
}

void TfrmMain::btnCopy2CacheClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::PackageList, [this](TDeviceView& view) {
        PackageCaches::CopyToPhone(controller_.Phone(), controller_.Folders(),
                                   TDeviceView::TList::Cache, view);
    });
}

void TfrmMain::btnCopy2AutoInstallClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::PackageList, [this](TDeviceView& view) {
        PackageCaches::CopyToPhone(controller_.Phone(), controller_.Folders(),
                                   TDeviceView::TList::AutoInstall, view);
    });
}

void TfrmMain::btnDeleteLocalClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::LocalDelete, [this](TDeviceView& view) {
        PackageCaches::DeleteLocal(controller_.Folders(), view);
    });
}

void TfrmMain::btnDeleteCacheClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::PackageList, [this](TDeviceView& view) {
        PackageCaches::DeleteOnPhone(controller_.Phone(), TDeviceView::TList::Cache, view);
    });
}

void TfrmMain::btnDeleteAutoInstallClick() {
    RunOnPhone(*this, *syncPage_, TRunner::TKind::PackageList, [this](TDeviceView& view) {
        PackageCaches::DeleteOnPhone(controller_.Phone(), TDeviceView::TList::AutoInstall, view);
    });
}
