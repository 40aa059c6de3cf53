#include "device/PackageCaches.h"

#include "base/SafeFiles.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <string_view>

namespace PackageCaches {

namespace {

constexpr std::string_view kPackageSuffix = ".deb";

using Caption = TDeviceView::Caption;
using List = TDeviceView::List;

// A name shown in a list, as the file name it stands for; empty when it
// cannot name a file in its folder.
std::string FileNameOf(const QString& shown) {
    std::string name = shown.toUtf8().toStdString();
    return DeviceFiles::IsUsableName(name) ? name : std::string();
}

} // namespace

QStringList LocalPackages(const QString& archivesDir) {
    QStringList names;
    for (const QString& name : IndexStore::ListFolder(archivesDir)) {
        if (name.endsWith(QStringLiteral(".deb"), Qt::CaseInsensitive))
            names.append(name);
    }
    return names;
}

QStringList PhonePackages(const std::vector<std::string>& listed, QStringList* skipped) {
    QStringList names;
    for (const std::string& name : listed) {
        const std::string_view view(name);
        if (view.size() < kPackageSuffix.size() ||
            view.substr(view.size() - kPackageSuffix.size()) != kPackageSuffix)
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

const char* PhoneFolderOf(List list) {
    switch (list) {
    case List::Cache:
        return PhoneFolders::Cache;
    case List::AutoInstall:
        return PhoneFolders::AutoInstall;
    case List::Local:
        break;
    }
    return "";
}

QString DeleteQuestion(const QString& name) {
    return QStringLiteral("Удалить пакет ") + name + QLatin1Char('?');
}

void CacheRefresh(TPhone& phone, const TWorkFolders& folders, TDeviceView& view) {
    view.SetCaption(Caption::UpdatingFileLists);
    view.PumpMessages();
    view.ShowList(List::Local, {});
    view.ShowList(List::Cache, {});
    view.ShowList(List::AutoInstall, {});
    view.ShowList(List::Local, LocalPackages(folders.ArchivesDir));
    QStringList skipped;
    for (const List list : {List::Cache, List::AutoInstall}) {
        std::vector<std::string> listed;
        phone.iPhone_ls(PhoneFolderOf(list), listed);
        view.ShowList(list, PhonePackages(listed, &skipped));
    }
    view.SetCaption(Caption::Idle);
    if (!skipped.isEmpty())
        view.Warn(QStringLiteral("Не показаны пакеты телефона с недопустимыми именами:\n") +
                  skipped.join(QLatin1Char('\n')));
}

void DeleteLocal(const TWorkFolders& folders, TDeviceView& view) {
    const QString selected = view.Selected(List::Local);
    if (selected.isEmpty())
        return;
    if (!view.Confirm(DeleteQuestion(selected)))
        return;
    if (!FileNameOf(selected).empty())
        DeviceFiles::Remove(folders.ArchivesDir + selected);
    view.ShowList(List::Local, LocalPackages(folders.ArchivesDir));
}

void DeleteOnPhone(TPhone& phone, List list, TDeviceView& view) {
    const QString selected = view.Selected(list);
    if (selected.isEmpty())
        return;
    if (!view.Confirm(DeleteQuestion(selected)))
        return;
    view.SetCaption(Caption::UpdatingFileLists);
    view.PumpMessages();
    const std::string name = FileNameOf(selected);
    const char* folder = PhoneFolderOf(list);
    if (name.empty() || !phone.iPhone_del(PhoneFolders::File(folder, name))) {
        view.SetCaption(Caption::Idle);
        return;
    }
    std::vector<std::string> listed;
    phone.iPhone_ls(folder, listed);
    view.ShowList(list, PhonePackages(listed));
    view.SetCaption(Caption::Idle);
}

void CopyToPhone(TPhone& phone, const TWorkFolders& folders, List list, TDeviceView& view) {
    const QString selected = view.Selected(List::Local);
    if (selected.isEmpty())
        return;
    const std::string name = FileNameOf(selected);
    const char* folder = PhoneFolderOf(list);
    // The package is sent as it lies in the local cache: only a regular file
    // there, never what a link points at.
    const QString local = folders.ArchivesDir + selected;
    view.SetCaption(Caption::UpdatingFileLists);
    view.PumpMessages();
    if (!name.empty() && DeviceFiles::IsRegularFile(local))
        phone.iPhone_put(
            local, PhoneFolders::File(
                       folder, name)); // a failed copy shows as a file missing from the listing
    std::vector<std::string> listed;
    if (phone.iPhone_ls(folder, listed))
        view.ShowList(list, PhonePackages(listed));
    view.SetCaption(Caption::Idle);
}

} // namespace PackageCaches
