// The start-up sequence (creating the window) and the shutdown sequence
// (closing it). The order of the steps matters: the window is shown before
// the slow loading, the settings are read after the source list exists, and
// the saved page is restored last so that it does not trigger phone access
// before start-up is done.
#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/TfrmMain.h"
#include "app/ui/Widgets.h"
#include "base/IniFile.h"
#include "control/Settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QStackedWidget>

#include "app/ui/SidePanels.h"

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
    inStartup_ = true;
    startupDone_ = false;

    LoadPictures();
    packagesPage_->SetBackPositionNone();
    DrawRefreshStop();
    DrawDownloadStop();
    DrawSyncStop();
    SetActivePage(PageSources);
    RedrawTabs();
    InstallHandCursor();

    // Enters the working folder, creates "lists", "proc" and "archives" and
    // removes the scratch files a killed run left behind.
    QString error;
    const QString settingsName = QFileInfo(Settings::SettingsFilePath(programFilePath_)).fileName();
    if (!Startup::PrepareWorkFolders(Startup::FolderOf(programFilePath_), folders_, error,
                                     settingsName)) {
        inStartup_ = false;
        if (ShowError)
            ShowError(error);
        return false;
    }
    packagesPage_->SetFolders(folders_);

    BindPlugin();
    CreateHttpComponents();
    packagesPage_->HidePackageInfo();
    sourcesPage_->LoadSources(folders_.ProcDir);

    if (QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    repaint();

    const TIniFile ini(Settings::SettingsFilePath(programFilePath_));
    settingsPage_->SetOptions(Settings::LoadSettings(ini, sourcesPage_->Sources()));
    sourcesPage_->SyncFromModel();

    BeginBusyLook();
    if (!packagesPage_->LoadPackageList(std::string())) {
        packagesPage_->LoadPackages();
        packagesPage_->SavePackageList();
    }
    const bool refresh = settingsPage_->chkRefresh->isChecked();
    const bool getCydia = settingsPage_->chkGetCydia->isChecked();
    if (refresh)
        SrcRefresh();
    if (getCydia)
        Phone2Comp();
    if (refresh || getCydia)
        PkgsRefresh();
    EndBusyLook();

    startupDone_ = true;
    created_ = true;
    SetActivePage(Settings::ReadActivePage(ini)); // -1 (out of range) is not applied
    inStartup_ = false;

    if (closePending_)
        ScheduleClose();
    return true;
}

void TfrmMain::FormClose() {
    setWindowTitle(Texts::CaptionShuttingDown());
    repaint();

    if (packagesPage_->LoadPackageList(std::string()))
        packagesPage_->SavePackageList();
    if (settingsPage_->chkPutCydia->isChecked())
        btnComp2PhoneClick();

    TIniFile ini(Settings::SettingsFilePath(programFilePath_));
    if (!Settings::SaveSettings(ini, settingsPage_->Options(), ActivePage(),
                                sourcesPage_->Sources())) {
        if (ShowError)
            ShowError(QStringLiteral("Не удалось записать файл настроек \"%1\": %2")
                          .arg(ini.Path(), ini.ErrorString()));
    }
    ReleasePlugin();
}
