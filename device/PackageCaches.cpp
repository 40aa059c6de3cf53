#include "device/PackageCaches.h"

#include "base/SafeFiles.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <QFileInfo>

#include <string_view>

namespace PackageCaches {

namespace {

constexpr std::string_view PackageSuffix = ".deb";

using TCaption = TDeviceView::TCaption;
using TList = TDeviceView::TList;

// A name shown in a list, as the file name it stands for; empty when it
// cannot name a file in its folder.
std::string FileNameOf(const QString& shown) {
    std::string name = shown.toUtf8().toStdString();
    return DeviceFiles::IsUsableName(name) ? name : std::string();
}

} // namespace

QStringList LocalPackages(const QString& archivesDir, QStringList* skipped) {
    QStringList names;
    for (const QString& name : IndexStore::ListFolder(archivesDir)) {
        if (!name.endsWith(QStringLiteral(".deb"), Qt::CaseInsensitive))
            continue;
        // A stored name that is not UTF-8 reads back with replacement
        // characters and so names no file: shown, it could never be sent.
        if (name.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(archivesDir + name)) {
            if (skipped)
                skipped->append(QStringLiteral("\"%1\": имя не в кодировке UTF-8").arg(name));
            continue;
        }
        names.append(name);
    }
    return names;
}

QStringList PhonePackages(const std::vector<std::string>& listed, QStringList* skipped) {
    QStringList names;
    for (const std::string& name : listed) {
        const std::string_view view(name);
        if (view.size() < PackageSuffix.size() ||
            view.substr(view.size() - PackageSuffix.size()) != PackageSuffix)
            continue;
        const QString reason = SafeFiles::UnsafeNameReason(name);
        if (reason.isEmpty())
            names.append(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        else if (skipped)
            skipped->append(
                QStringLiteral("\"%1\": %2").arg(SafeFiles::PrintableName(name), reason));
    }
    return names;
}

const char* PhoneFolderOf(TList list) {
    switch (list) {
    case TList::Cache:
        return PhoneFolders::Cache;
    case TList::AutoInstall:
        return PhoneFolders::AutoInstall;
    case TList::Local:
        break;
    }
    return "";
}

QString DeleteQuestion(const QString& name) {
    return QStringLiteral("Удалить пакет ") + name + QLatin1Char('?');
}

void CacheRefresh(TPhone& phone, const TWorkFolders& folders, TDeviceView& view) {
    view.SetCaption(TCaption::UpdatingFileLists);
    view.PumpMessages();
    view.ShowList(TList::Local, {});
    view.ShowList(TList::Cache, {});
    view.ShowList(TList::AutoInstall, {});
    QStringList skippedHere;
    view.ShowList(TList::Local, LocalPackages(folders.ArchivesDir, &skippedHere));
    QStringList skipped;
    for (const TList list : {TList::Cache, TList::AutoInstall}) {
        std::vector<std::string> listed;
        phone.iPhone_ls(PhoneFolderOf(list), listed);
        view.ShowList(list, PhonePackages(listed, &skipped));
    }
    view.SetCaption(TCaption::Idle);
    QString warning;
    if (!skippedHere.isEmpty())
        warning = QStringLiteral("Не показаны пакеты кэша с недопустимыми именами:\n") +
                  skippedHere.join(QLatin1Char('\n'));
    if (!skipped.isEmpty())
        warning += (warning.isEmpty() ? QString() : QStringLiteral("\n")) +
                   QStringLiteral("Не показаны пакеты телефона с недопустимыми именами:\n") +
                   skipped.join(QLatin1Char('\n'));
    if (!warning.isEmpty())
        view.Warn(warning);
}

void DeleteLocal(const TWorkFolders& folders, TDeviceView& view) {
    const QString selected = view.Selected(TList::Local);
    if (selected.isEmpty())
        return;
    if (!view.Confirm(DeleteQuestion(selected)))
        return;
    if (!FileNameOf(selected).empty())
        DeviceFiles::Remove(folders.ArchivesDir + selected);
    view.ShowList(TList::Local, LocalPackages(folders.ArchivesDir));
}

void DeleteOnPhone(TPhone& phone, TList list, TDeviceView& view) {
    const QString selected = view.Selected(list);
    if (selected.isEmpty())
        return;
    if (!view.Confirm(DeleteQuestion(selected)))
        return;
    view.SetCaption(TCaption::UpdatingFileLists);
    view.PumpMessages();
    const std::string name = FileNameOf(selected);
    const char* folder = PhoneFolderOf(list);
    if (name.empty() || !phone.iPhone_del(PhoneFolders::File(folder, name))) {
        view.SetCaption(TCaption::Idle);
        view.Warn(QStringLiteral("Пакет \"%1\" не удалён с телефона.").arg(selected));
        return;
    }
    std::vector<std::string> listed;
    phone.iPhone_ls(folder, listed);
    view.ShowList(list, PhonePackages(listed));
    view.SetCaption(TCaption::Idle);
}

void CopyToPhone(TPhone& phone, const TWorkFolders& folders, TList list, TDeviceView& view) {
    const QString selected = view.Selected(TList::Local);
    if (selected.isEmpty())
        return;
    const std::string name = FileNameOf(selected);
    const char* folder = PhoneFolderOf(list);
    // The package is sent as it lies in the local cache: only a regular file
    // there, never what a link points at.
    const QString local = folders.ArchivesDir + selected;
    view.SetCaption(TCaption::UpdatingFileLists);
    view.PumpMessages();
    const bool sent = !name.empty() && DeviceFiles::IsRegularFile(local) &&
                      phone.iPhone_put(local, PhoneFolders::File(folder, name));
    std::vector<std::string> listed;
    if (phone.iPhone_ls(folder, listed))
        view.ShowList(list, PhonePackages(listed));
    view.SetCaption(TCaption::Idle);
    if (!sent)
        view.Warn(QStringLiteral("Пакет \"%1\" не отправлен на телефон.").arg(selected));
}

} // namespace PackageCaches
