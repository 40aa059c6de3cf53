#include "device/SourceSync.h"

#include "app/LongOperation.h"
#include "app/SafeFiles.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <QFileInfo>

#include <string_view>

namespace SourceSync {

namespace {

constexpr std::string_view kIndexSuffix = "_Packages";

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

QStringList PhoneIndexNames(const std::vector<std::string>& listed) {
    QStringList names;
    for (const std::string& name : listed) {
        if (EndsWith(name, kIndexSuffix) && DeviceFiles::IsUsableName(name))
            names.append(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    }
    return names;
}

QStringList ListsToSend(const QString& listsDir) {
    QStringList names;
    for (const QString& name : IndexStore::ListIndexFiles(listsDir)) {
        if (DeviceFiles::IsUsableName(name.toUtf8().toStdString()))
            names.append(name);
    }
    return names;
}

bool FromPhone(TPhone& phone, const WorkFolders& folders, Target target, TStopFlag& stop,
               TDeviceView& view) {
    view.SyncBusy(true);
    view.SetCaption(TDeviceView::Caption::CopyingFromPhone);
    view.PumpMessages();
    view.SetProgress(0);

    std::vector<std::string> listed;
    QStringList names;
    if (phone.iPhone_ls(PhoneFolders::Lists, listed))
        names = PhoneIndexNames(listed);

    const qsizetype n = names.size();
    for (qsizetype i = 0; i < n; ++i) {
        view.PumpMessages();
        if (stop.IsSet())
            continue; // the walk runs to its end without work
        const QString& name = names[i];
        const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
        phone.iPhone_get(remote); // judged by the staged file, not the result
        const QString staged = phone.StagedPath(remote);
        if (!staged.isEmpty() && QFileInfo::exists(staged)) {
            DeviceFiles::CopyWhole(staged, folders.ListsDir + name, SafeFiles::MaxTextSize);
            // The store keeps its own, newer index of a source it already has.
            const QString stored = folders.ProcDir + name;
            if (target == Target::ListsAndProc && !QFileInfo::exists(stored) &&
                !QFileInfo(stored).isSymLink())
                DeviceFiles::CopyWhole(staged, stored, SafeFiles::MaxTextSize);
            DeviceFiles::Remove(staged);
        }
        view.SetProgress(static_cast<int>(i * 100 / n));
    }

    view.SyncBusy(false);
    view.SetCaption(TDeviceView::Caption::Idle);
    return n > 0;
}

void ToPhone(TPhone& phone, const WorkFolders& folders, TStopFlag& stop, TDeviceView& view) {
    view.SyncBusy(true);
    view.SetCaption(TDeviceView::Caption::CopyingToPhone);
    view.PumpMessages();
    view.SetProgress(0);

    const QStringList names = ListsToSend(folders.ListsDir);
    const qsizetype n = names.size();
    for (qsizetype i = 1; i <= n; ++i) {
        const QString& name = names[i - 1];
        const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
        const QString staged = phone.StagedPath(remote);
        if (!staged.isEmpty())
            DeviceFiles::Stage(folders.ListsDir + name, staged, SafeFiles::MaxTextSize);
        if (!phone.iPhone_put(remote))
            stop.Set();
        if (!staged.isEmpty())
            DeviceFiles::Remove(staged);
        view.SetProgress(static_cast<int>(i * 100 / n));
        view.PumpMessages();
        if (stop.IsSet())
            break;
    }

    view.SyncBusy(false);
    view.SetCaption(TDeviceView::Caption::Idle);
}

} // namespace SourceSync
