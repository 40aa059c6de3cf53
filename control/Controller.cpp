#include "control/Controller.h"

#include "base/IniFile.h"
#include "device/CarriedPlugin.h"
#include "net/HTTPGet.h"

#include <QFileInfo>
#include <QTimer>

TController::TController(const QString& programFilePath, TControllerView& view, QObject* parent)
    : QObject(parent), programFilePath_(programFilePath), view_(view) {
    // A Stop press or a close also ends the phone copy in progress.
    connect(&runner_.StopFlag(), &TStopFlag::raised, this, [this] { phone_.Interrupt(); });
    connect(&runner_, &TRunner::Idle, this, [this] {
        if (state_ == TLifecycle::ClosePending)
            ScheduleClose();
    });
}

TController::~TController() = default;

// The order of the steps matters: the window is shown before the slow
// loading, the settings are read after the source list exists, and the saved
// page is restored last so that it does not start a phone operation before
// start-up is done.
bool TController::Start() {
    state_ = TLifecycle::Starting;
    runner_.Begin(); // ended before the saved page comes back
    view_.PrepareLook();

    // Enters the working folder, creates "lists", "proc" and "archives" and
    // removes the scratch files a killed run left behind.
    QString error;
    const QString settingsPath = Settings::SettingsFilePath(programFilePath_);
    if (!Startup::PrepareWorkFolders(Startup::FolderOf(programFilePath_), folders_, error,
                                     QFileInfo(settingsPath).fileName())) {
        state_ = TLifecycle::Closed;
        runner_.End();
        view_.ShowError(error);
        return false;
    }
    phone_.Bind(folders_.WorkDir, CarriedPlugin());
    CreateHttpComponents();
    view_.FoldersReady(folders_);
    view_.ShowWindow();

    const TIniFile ini(settingsPath);
    view_.ShowOptions(Settings::LoadSettings(ini, view_.Sources()));
    LoadStartupState();

    if (state_ == TLifecycle::Starting)
        state_ = TLifecycle::Running;
    runner_.End(); // a waiting close is carried out when the runner is idle
    view_.SetActivePage(Settings::ReadActivePage(ini)); // -1 (out of range) is not applied
    return true;
}

void TController::CreateHttpComponents() {
    // Uncached, with the phone's own agent (the components' defaults); the
    // refresh and the download set each request's length rule themselves.
    httpGetPackages_ = std::make_unique<THTTPGet>();
    httpGetFile_ = std::make_unique<THTTPGet>();
    httpGetFile_->BinaryData = true;
}

void TController::LoadStartupState() {
    view_.SetBusyLook(true);
    view_.LoadCatalogue();
    const TOptions options = view_.Options();
    if (options.Refresh)
        view_.RefreshSources();
    if (options.GetCydia)
        view_.CopyListsFromPhone();
    if (options.Refresh || options.GetCydia)
        view_.ReloadCatalogue();
    view_.SetBusyLook(false);
}

bool TController::Close() {
    switch (state_) {
    case TLifecycle::NotStarted:
    case TLifecycle::ShuttingDown:
    case TLifecycle::Closed:
        return true; // nothing (more) to save
    case TLifecycle::Starting:
    case TLifecycle::Running:
    case TLifecycle::ClosePending:
        break;
    }
    if (runner_.Running()) {
        // Let the running work end first; it sees the stop flag between its
        // items and the window closes as soon as it is over.
        HoldClose();
        return false;
    }
    Shutdown();
    return true;
}

void TController::RequestClose() {
    if (state_ == TLifecycle::ShuttingDown || state_ == TLifecycle::Closed)
        return;
    if (runner_.Running())
        HoldClose();
    else
        view_.CloseWindow();
}

void TController::Shutdown() {
    state_ = TLifecycle::ShuttingDown;
    view_.ShowShuttingDown();
    view_.SaveCatalogue();
    // The close being carried out raised the stop flag; the copy the settings
    // ask for starts from a cleared one like any other start.
    if (view_.Options().PutCydia) {
        runner_.StopFlag().Clear();
        view_.CopyListsToPhone();
    }

    TIniFile ini(Settings::SettingsFilePath(programFilePath_));
    if (!Settings::SaveSettings(ini, view_.Options(), view_.ActivePage(), view_.Sources()))
        view_.ShowError(QStringLiteral("Не удалось записать файл настроек \"%1\": %2")
                            .arg(ini.Path(), ini.ErrorString()));
    phone_.Release();
    state_ = TLifecycle::Closed;
}

void TController::ScheduleClose() {
    QTimer::singleShot(0, this, [this] { view_.CloseWindow(); });
}

void TController::HoldClose() {
    runner_.StopAndHold();
    state_ = TLifecycle::ClosePending;
}
