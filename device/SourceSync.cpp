#include "device/SourceSync.h"

#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <string_view>

namespace SourceSync {

namespace {

constexpr std::string_view IndexSuffix = "_Packages";

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace

QStringList PhoneIndexNames(const std::vector<std::string>& listed, QStringList* skipped) {
    QStringList names;
    for (const std::string& name : listed) {
        if (!EndsWith(name, IndexSuffix))
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

QStringList ListsToSend(const QString& listsDir, QStringList* skipped) {
    QStringList names;
    for (const QString& name : IndexStore::ListIndexFiles(listsDir, skipped)) {
        const QByteArray bytes = QFile::encodeName(name);
        const std::string_view view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        const QString reason = SafeFiles::UnsafeNameReason(view);
        if (reason.isEmpty())
            names.append(name);
        else if (skipped)
            skipped->append(
                QStringLiteral("\"%1\": %2").arg(SafeFiles::PrintableName(view), reason));
    }
    return names;
}

// Called when the lists folder could not be used: the reason, when the
// phone's tree has the folder under "/var" instead.
QString ListsFolderMisplaced(TPhone& phone) {
    std::vector<std::string> listed;
    // Some mounts of the phone's tree show "var/" without "private/var/".
    const std::string plain = std::string(PhoneFolders::Lists).substr(8); // without "/private"
    if (!phone.iPhone_ls(plain, listed))
        return {};
    return QStringLiteral("На телефоне нет папки источников Cydia %1, зато есть %2: похоже, "
                          "корень телефона подключён без папки private. Укажите в T-Pot.ini "
                          "папку, в которой есть private/var.")
        .arg(QString::fromUtf8(PhoneFolders::Lists), QString::fromStdString(plain));
}

bool FromPhone(TPhone& phone, const TWorkFolders& folders, Target target, TStopFlag& stop,
               TDeviceView& view) {
    view.Busy(true);
    view.SetCaption(TDeviceView::TCaption::CopyingFromPhone);
    view.PumpMessages();
    view.Progress(0);

    std::vector<std::string> listed;
    QStringList names, skipped;
    QString misplaced;
    if (phone.iPhone_ls(PhoneFolders::Lists, listed))
        names = PhoneIndexNames(listed, &skipped);
    else
        misplaced = ListsFolderMisplaced(phone);

    // The phone's name selects nothing local but the file of that name in
    // ListsDir and ProcDir; the fetch itself lands in a scratch file.
    const QString scratch = folders.WorkDir + QLatin1String(DeviceFiles::FetchScratchName);
    // The repositories the store has, under whatever name: the phone's name
    // for one of them must not list its packages a second time.
    QSet<QString> storedRepositories;
    if (target == Target::ListsAndProc)
        for (const QString& name : IndexStore::ListIndexFiles(folders.ProcDir))
            storedRepositories.insert(IndexStore::SourceKey(IndexStore::IndexNameToAddress(name)));

    const qsizetype n = names.size();
    for (qsizetype i = 0; i < n; ++i) {
        view.PumpMessages();
        if (stop.IsSet())
            continue; // the walk runs to its end without work
        const QString& name = names[i];
        const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
        DeviceFiles::Remove(scratch);
        phone.iPhone_get(remote, scratch); // judged by the file, not the result
        if (!DeviceFiles::IsRegularFile(scratch) && !stop.IsSet())
            skipped.append(QStringLiteral("\"%1\": не получен с телефона").arg(name));
        if (DeviceFiles::IsRegularFile(scratch)) {
            QString why;
            bool copied = DeviceFiles::CopyWhole(scratch, folders.ListsDir + name,
                                                 SafeFiles::MaxIndexSize, &why);
            // The store keeps its own, newer index of a source it already has.
            const QString stored = folders.ProcDir + name;
            const QString repository = IndexStore::SourceKey(IndexStore::IndexNameToAddress(name));
            if (copied && target == Target::ListsAndProc && !QFileInfo::exists(stored) &&
                !QFileInfo(stored).isSymLink() && !storedRepositories.contains(repository)) {
                copied = DeviceFiles::CopyWhole(scratch, stored, SafeFiles::MaxIndexSize, &why);
                storedRepositories.insert(repository);
            }
            if (!copied)
                skipped.append(QStringLiteral("\"%1\": %2").arg(name, why));
        }
        DeviceFiles::Remove(scratch);
        view.Progress(LongOperation::Percent(n, i));
    }

    view.Busy(false);
    view.SetCaption(TDeviceView::TCaption::Idle);
    if (!skipped.isEmpty())
        view.Warn(QStringLiteral("Пропущены файлы источников с телефона:\n") +
                  skipped.join(QLatin1Char('\n')));
    if (!misplaced.isEmpty())
        view.Warn(misplaced);
    return n > 0;
}

void ToPhone(TPhone& phone, const TWorkFolders& folders, TStopFlag& stop, TDeviceView& view) {
    view.Busy(true);
    view.SetCaption(TDeviceView::TCaption::CopyingToPhone);
    view.PumpMessages();
    view.Progress(0);

    QStringList skipped;
    const QStringList names = ListsToSend(folders.ListsDir, &skipped);
    const qsizetype n = names.size();
    QString misplaced, refused;
    for (qsizetype i = 1; i <= n; ++i) {
        const QString& name = names[i - 1];
        const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
        // Sent as it lies in ListsDir: only a regular file, never what a link
        // there points at.
        const QString local = folders.ListsDir + name;
        if (!DeviceFiles::IsRegularFile(local) || !phone.iPhone_put(local, remote)) {
            if (!stop.IsSet()) // a send a Stop press cut short is no refusal
                refused = name;
            stop.Set();
            std::vector<std::string> listed;
            if (!phone.iPhone_ls(PhoneFolders::Lists, listed))
                misplaced = ListsFolderMisplaced(phone);
        }
        view.Progress(LongOperation::Percent(n, i));
        view.PumpMessages();
        if (stop.IsSet())
            break;
    }

    view.Busy(false);
    view.SetCaption(TDeviceView::TCaption::Idle);
    if (!skipped.isEmpty())
        view.Warn(QStringLiteral("Не отправлены на телефон файлы источников:\n") +
                  skipped.join(QLatin1Char('\n')));
    if (!misplaced.isEmpty())
        view.Warn(misplaced);
    else if (!refused.isEmpty())
        view.Warn(QStringLiteral("Телефон не принял файл источника \"%1\"; отправка прервана.")
                      .arg(refused));
}

} // namespace SourceSync
