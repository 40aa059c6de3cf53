// The window's side of the phone's architecture: asking the phone through the
// plugin, and choosing what it says on the Settings page.
#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "app/ui/TfrmMain.h"
#include "control/Settings.h"
#include "device/PhoneArchitecture.h"

TOutcome TfrmMain::ReadPhoneArchitecture(std::string& architecture) {
    // Counted with the copies of the source lists: no other phone operation
    // starts while the phone is being asked.
    const TRunner::TRun run(controller_.Runner(), TRunner::TKind::PhoneAsk);
    return PhoneArchitecture::Read(controller_.Phone(),
                                   controller_.Folders().WorkDir + QStringLiteral("download.arch"),
                                   architecture);
}

void TfrmMain::btnPhoneArchitectureClick() {
    if (!controller_.Runner().MayStart(TRunner::TKind::PhoneAsk))
        return;
    std::string architecture;
    const TOutcome read = ReadPhoneArchitecture(architecture);
    if (!read) {
        ShowError(read.Reason);
        return;
    }
    settingsPage_->SetArchitecture(QString::fromStdString(architecture));
    if (controller_.Started())
        packagesPage_->PhoneArchitectureChanged();
}

void TfrmMain::OfferPhoneArchitecture() {
    // Once a run, and only while the user has chosen no architecture: a
    // choice made is never overridden.
    if (architectureOffered_ || !settingsPage_->Options().Architecture.isEmpty())
        return;
    architectureOffered_ = true;
    std::string architecture;
    const TOutcome read = ReadPhoneArchitecture(architecture);
    if (!read) {
        ReportToStderr(read.Reason);
        return;
    }
    const QString text = QString::fromStdString(architecture);
    if (Confirm(QStringLiteral("Телефон сообщает архитектуру %1. Показывать только "
                               "пакеты для неё? (Это можно изменить в настройках.)")
                    .arg(text)))
        settingsPage_->SetArchitecture(text);
}
