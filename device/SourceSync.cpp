#include "device/SourceSync.h"

#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "base/Utf8Text.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <optional>
#include <string_view>
#include <utility>

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
            names.append(Utf8Text::Decode(name));
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

} // namespace SourceSync

TSourcesFromPhone::TSourcesFromPhone(TPhone& phone, TWorkFolders folders, TTarget target,
                                     TStopFlag& stop, TOperationReport& report)
    : phone_(phone), folders_(std::move(folders)), target_(target), stop_(stop), report_(report) {}

bool TSourcesFromPhone::Run() {
    report_.Busy(true);
    report_.Progress(0);
    outcomes_.clear();
    skipped_.clear();
    misplaced_.clear();
    storedRepositories_.clear();

    std::vector<std::string> listed;
    QStringList names;
    if (phone_.iPhone_ls(PhoneFolders::Lists, listed))
        names = SourceSync::PhoneIndexNames(listed, &skipped_);
    else
        misplaced_ = SourceSync::ListsFolderMisplaced(phone_);
    if (target_ == TTarget::ListsAndProc)
        for (const QString& name : IndexStore::ListIndexFiles(folders_.ProcDir))
            storedRepositories_.insert(IndexStore::SourceKey(IndexStore::IndexNameToAddress(name)));

    const qsizetype n = names.size();
    for (qsizetype i = 0; i < n && !stop_.IsSet(); ++i) {
        report_.ItemStarted(static_cast<int>(i));
        if (std::optional<TOutcome> outcome = Fetch(names[i]))
            outcomes_.push_back({names[i], std::move(*outcome)});
        report_.Progress(LongOperation::Percent(n, i));
    }
    report_.Busy(false);
    return n > 0;
}

// The phone's name selects nothing local but the file of that name in
// ListsDir and ProcDir; the fetch itself lands in a scratch file.
std::optional<TOutcome> TSourcesFromPhone::Fetch(const QString& name) {
    const QString scratch = folders_.WorkDir + QLatin1String(DeviceFiles::FetchScratchName);
    const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
    DeviceFiles::Remove(scratch);
    // Judged by the file, not the result; the result says why it is missing.
    const TOutcome got = phone_.iPhone_get(remote, scratch);
    if (!DeviceFiles::IsRegularFile(scratch)) {
        if (stop_.IsSet()) // what a stop cut short is no failure
            return std::nullopt;
        return TOutcome::Failure(QStringLiteral("не получен с телефона") +
                                 (got ? QString() : QStringLiteral(": ") + got.Reason));
    }
    QString why;
    bool copied =
        DeviceFiles::CopyWhole(scratch, folders_.ListsDir + name, SafeFiles::MaxIndexSize, &why);
    // The store keeps its own, newer index of a source it already has.
    const QString stored = folders_.ProcDir + name;
    const QString repository = IndexStore::SourceKey(IndexStore::IndexNameToAddress(name));
    if (copied && target_ == TTarget::ListsAndProc && !QFileInfo::exists(stored) &&
        !QFileInfo(stored).isSymLink() && !storedRepositories_.contains(repository)) {
        copied = DeviceFiles::CopyWhole(scratch, stored, SafeFiles::MaxIndexSize, &why);
        storedRepositories_.insert(repository);
    }
    DeviceFiles::Remove(scratch);
    return copied ? TOutcome::Success() : TOutcome::Failure(why);
}

namespace {

// The failed ones among Outcomes, after the lines already in Lines, under
// Heading; empty when there are none.
QString FailureList(const QString& heading, QStringList lines,
                    const std::vector<TFileOutcome>& outcomes) {
    for (const TFileOutcome& file : outcomes)
        if (!file.Outcome)
            lines.append(QStringLiteral("\"%1\": %2").arg(file.Name, file.Outcome.Reason));
    return lines.isEmpty() ? QString() : heading + lines.join(QLatin1Char('\n'));
}

} // namespace

QStringList TSourcesFromPhone::Warnings() const {
    QStringList warnings;
    const QString failures = FailureList(QStringLiteral("Пропущены файлы источников с телефона:\n"),
                                         skipped_, outcomes_);
    if (!failures.isEmpty())
        warnings.append(failures);
    if (!misplaced_.isEmpty())
        warnings.append(misplaced_);
    return warnings;
}

TSourcesToPhone::TSourcesToPhone(TPhone& phone, TWorkFolders folders, TStopFlag& stop,
                                 TOperationReport& report)
    : phone_(phone), folders_(std::move(folders)), stop_(stop), report_(report) {}

void TSourcesToPhone::Run() {
    report_.Busy(true);
    report_.Progress(0);
    outcomes_.clear();
    skipped_.clear();
    misplaced_.clear();
    refused_ = {};

    const QStringList names = SourceSync::ListsToSend(folders_.ListsDir, &skipped_);
    const qsizetype n = names.size();
    for (qsizetype i = 1; i <= n && !stop_.IsSet(); ++i) {
        const QString& name = names[i - 1];
        report_.ItemStarted(static_cast<int>(i - 1));
        const std::string remote = PhoneFolders::File(PhoneFolders::Lists, name.toStdString());
        // Sent as it lies in ListsDir: only a regular file, never what a link
        // there points at.
        const QString local = folders_.ListsDir + name;
        const TOutcome sent = DeviceFiles::IsRegularFile(local)
                                  ? phone_.iPhone_put(local, remote)
                                  : TOutcome::Failure(QStringLiteral("не обычный файл"));
        if (sent) {
            outcomes_.push_back({name, TOutcome::Success()});
        } else {
            if (!stop_.IsSet()) { // a send a Stop press cut short is no refusal
                refused_ = {name, sent};
                outcomes_.push_back(
                    {name, TOutcome::Failure(QStringLiteral("не принят: ") + sent.Reason)});
            }
            stop_.Set();
            std::vector<std::string> listed;
            if (!phone_.iPhone_ls(PhoneFolders::Lists, listed))
                misplaced_ = SourceSync::ListsFolderMisplaced(phone_);
        }
        report_.Progress(LongOperation::Percent(n, i));
    }
    report_.Busy(false);
}

QStringList TSourcesToPhone::Warnings() const {
    QStringList warnings;
    if (!skipped_.isEmpty())
        warnings.append(QStringLiteral("Не отправлены на телефон файлы источников:\n") +
                        skipped_.join(QLatin1Char('\n')));
    if (!misplaced_.isEmpty())
        warnings.append(misplaced_);
    else if (!refused_.Name.isEmpty())
        warnings.append(
            QStringLiteral("Телефон не принял файл источника \"%1\": %2; отправка прервана.")
                .arg(refused_.Name, refused_.Outcome.Reason));
    return warnings;
}
