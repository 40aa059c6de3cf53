// The window's side of the phone: binding the plugin, the copies of the
// source lists to and from the phone, and the Sync page's package lists. The
// work itself is the device core's; these methods only connect it to the
// window's widgets, flags and captions.
#include "app/ui/PackagesPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"
#include "base/Outcome.h"
#include "device/CarriedPlugin.h"
#include "device/DeviceView.h"
#include "device/PackageCaches.h"
#include "device/SourceSync.h"
#include "sources/IndexStore.h"

#include <QApplication>
#include <QListWidget>
#include <QProgressBar>
#include <QToolButton>

namespace {

// The window as the device core sees it.
class TWindowDeviceView final : public TDeviceView {
public:
    explicit TWindowDeviceView(TfrmMain& frm) : frm_(frm) {}

    void SetCaption(Caption caption) override {
        frm_.setWindowTitle(TextOf(caption));
        frm_.repaint();
    }
    void PumpMessages() override { QApplication::processEvents(); }
    void SyncBusy(bool on) override {
        if (on)
            frm_.DrawSyncStart();
        else
            frm_.DrawSyncStop();
    }
    void SetProgress(int percent) override { frm_.SyncPage()->prSync->setValue(percent); }
    void ShowList(List list, const QStringList& names) override {
        TSyncPage::ShowNames(ListOf(list), names);
    }
    QString Selected(List list) const override {
        const QList<QListWidgetItem*> items = ListOf(list)->selectedItems();
        return items.isEmpty() ? QString() : items.first()->text();
    }
    bool Confirm(const QString& question) override {
        return frm_.Confirm && frm_.Confirm(question);
    }
    void Warn(const QString& text) override {
        if (frm_.ShowError)
            frm_.ShowError(text); // the dialog's text goes to stderr as well
        else
            ReportToStderr(text);
    }

private:
    static QString TextOf(Caption caption) {
        switch (caption) {
        case Caption::CopyingFromPhone:
            return Texts::CaptionCopyingFromPhone();
        case Caption::CopyingToPhone:
            return Texts::CaptionCopyingToPhone();
        case Caption::UpdatingFileLists:
            return Texts::CaptionUpdatingFileLists();
        case Caption::Idle:
            break;
        }
        return Texts::Caption();
    }
    QListWidget* ListOf(List list) const {
        TSyncPage* page = frm_.SyncPage();
        switch (list) {
        case List::Cache:
            return page->lstCache;
        case List::AutoInstall:
            return page->lstAutoInstall;
        case List::Local:
            break;
        }
        return page->lstLocalCache;
    }

    TfrmMain& frm_;
};

// Counts a running phone operation for as long as it lives.
class TRunning {
public:
    explicit TRunning(int& count) : count_(count) { ++count_; }
    ~TRunning() { --count_; }
    TRunning(const TRunning&) = delete;
    TRunning& operator=(const TRunning&) = delete;

private:
    int& count_;
};

} // namespace

void TfrmMain::ConnectDeviceHandlers() {
    const auto on = [this](const TToolButton& button, void (TfrmMain::*handler)()) {
        connect(button.btn, &QToolButton::clicked, this, [this, handler] { (this->*handler)(); });
    };
    on(syncPage_->Comp2Phone, &TfrmMain::btnComp2PhoneClick);
    on(syncPage_->Phone2Comp, &TfrmMain::btnPhone2CompClick);
    on(syncPage_->Copy2Cache, &TfrmMain::btnCopy2CacheClick);
    on(syncPage_->Copy2AutoInstall, &TfrmMain::btnCopy2AutoInstallClick);
    on(syncPage_->DeleteLocal, &TfrmMain::btnDeleteLocalClick);
    on(syncPage_->DeleteCache, &TfrmMain::btnDeleteCacheClick);
    on(syncPage_->DeleteAutoInstall, &TfrmMain::btnDeleteAutoInstallClick);
}

void TfrmMain::BindPlugin() {
    phone_.Bind(folders_.WorkDir, CarriedPlugin());
}

void TfrmMain::ReleasePlugin() {
    phone_.Release();
}

// The phone's calls run on a worker while the window keeps handling its
// events, so a click can arrive while a phone operation waits. The Sync
// page's buttons then do nothing: the phone is busy, and the lists they
// would refill are being filled.
bool TfrmMain::PhoneOperationRunning() const {
    return sourceCopies_ > 0 || cacheOperations_ > 0;
}

void TfrmMain::Phone2Comp() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(sourceCopies_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    if (SourceSync::FromPhone(phone_, folders_, SourceSync::Target::Lists, stop_, view) &&
        !stop_.IsSet())
        OfferPhoneArchitecture();
    EndLongOperation();
}

void TfrmMain::btnPhone2CompClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(sourceCopies_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    // The list keeps its order, marks and deletions; only the repositories
    // the phone brought into the store are added.
    const QStringList stored = IndexStore::ListIndexFiles(folders_.ProcDir);
    const QSet<QString> known(stored.begin(), stored.end());
    if (SourceSync::FromPhone(phone_, folders_, SourceSync::Target::ListsAndProc, stop_, view)) {
        sourcesPage_->AddNewFromStore(folders_.ProcDir, known);
        if (!stop_.IsSet())
            OfferPhoneArchitecture(); // before the reload, which then lists the choice
        PkgsRefresh();
    }
    EndLongOperation();
}

void TfrmMain::btnComp2PhoneClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(sourceCopies_);
    BeginLongOperation();
    // At shutdown the close that raised the stop flag is being carried out
    // now: the copy the settings ask for runs from a cleared flag like any
    // other start.
    if (shutdownDone_)
        stop_.Clear();
    TWindowDeviceView view(*this);
    SourceSync::ToPhone(phone_, folders_, stop_, view);
    EndLongOperation();
}

void TfrmMain::CacheRefresh() {
    if (cacheOperations_ > 0)
        return; // the lists are being filled already
    const TRunning running(cacheOperations_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    PackageCaches::CacheRefresh(phone_, folders_, view);
    EndLongOperation();
}

void TfrmMain::btnCopy2CacheClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(cacheOperations_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    PackageCaches::CopyToPhone(phone_, folders_, TDeviceView::List::Cache, view);
    EndLongOperation();
}

void TfrmMain::btnCopy2AutoInstallClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(cacheOperations_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    PackageCaches::CopyToPhone(phone_, folders_, TDeviceView::List::AutoInstall, view);
    EndLongOperation();
}

void TfrmMain::btnDeleteLocalClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(cacheOperations_);
    TWindowDeviceView view(*this);
    PackageCaches::DeleteLocal(folders_, view);
}

void TfrmMain::btnDeleteCacheClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(cacheOperations_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    PackageCaches::DeleteOnPhone(phone_, TDeviceView::List::Cache, view);
    EndLongOperation();
}

void TfrmMain::btnDeleteAutoInstallClick() {
    if (PhoneOperationRunning())
        return;
    const TRunning running(cacheOperations_);
    BeginLongOperation();
    TWindowDeviceView view(*this);
    PackageCaches::DeleteOnPhone(phone_, TDeviceView::List::AutoInstall, view);
    EndLongOperation();
}
