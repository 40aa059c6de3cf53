#include "device/PackageCaches.h"

#include "base/SafeFiles.h"
#include "base/Utf8Text.h"
#include "device/DeviceFiles.h"
#include "device/Phone.h"
#include "sources/IndexStore.h"

#include <QFileInfo>

#include <cerrno>
#include <string_view>
#include <utility>

namespace PackageCaches {

namespace {

constexpr std::string_view PackageSuffix = ".deb";

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
            names.append(Utf8Text::Decode(name));
        else if (skipped)
            skipped->append(
                QStringLiteral("\"%1\": %2").arg(SafeFiles::PrintableName(name), reason));
    }
    return names;
}

const char* PhoneFolderOf(TCacheList list) {
    switch (list) {
    case TCacheList::Cache:
        return PhoneFolders::Cache;
    case TCacheList::AutoInstall:
        return PhoneFolders::AutoInstall;
    case TCacheList::Local:
        break;
    }
    return "";
}

QString DeleteQuestion(const QString& name) {
    return QStringLiteral("Удалить пакет ") + name + QLatin1Char('?');
}

} // namespace PackageCaches

namespace {

// A name shown in a list, as the file name it stands for; empty when it
// cannot name a file in its folder.
std::string FileNameOf(const QString& shown) {
    std::string name = shown.toUtf8().toStdString();
    return DeviceFiles::IsUsableName(name) ? name : std::string();
}

const QString UnusableName = QStringLiteral("имя не годится для файла");

TListedPackages ListPhoneFolder(TPhone& phone, TCacheList list, QStringList* skipped = nullptr) {
    std::vector<std::string> listed;
    TListedPackages packages;
    packages.Outcome = phone.iPhone_ls(PackageCaches::PhoneFolderOf(list), listed);
    if (packages.Outcome)
        packages.Names = PackageCaches::PhonePackages(listed, skipped);
    return packages;
}

} // namespace

TPackageListing::TPackageListing(TPhone& phone, TWorkFolders folders)
    : phone_(phone), folders_(std::move(folders)) {}

void TPackageListing::Run() {
    skippedHere_.clear();
    skippedThere_.clear();
    lists_[static_cast<std::size_t>(TCacheList::Local)] = {
        PackageCaches::LocalPackages(folders_.ArchivesDir, &skippedHere_), TOutcome::Success()};
    for (const TCacheList list : {TCacheList::Cache, TCacheList::AutoInstall})
        lists_[static_cast<std::size_t>(list)] = ListPhoneFolder(phone_, list, &skippedThere_);
}

QStringList TPackageListing::Warnings() const {
    QString warning;
    if (!skippedHere_.isEmpty())
        warning = QStringLiteral("Не показаны пакеты кэша с недопустимыми именами:\n") +
                  skippedHere_.join(QLatin1Char('\n'));
    if (!skippedThere_.isEmpty())
        warning += (warning.isEmpty() ? QString() : QStringLiteral("\n")) +
                   QStringLiteral("Не показаны пакеты телефона с недопустимыми именами:\n") +
                   skippedThere_.join(QLatin1Char('\n'));
    return warning.isEmpty() ? QStringList() : QStringList{warning};
}

TPackageChange::TPackageChange(TPhone& phone, TWorkFolders folders, TAction action, TCacheList list,
                               QString name)
    : phone_(phone), folders_(std::move(folders)), action_(action), list_(list),
      name_(std::move(name)) {}

void TPackageChange::Run() {
    relisted_.reset();
    if (action_ == TAction::CopyToPhone)
        outcome_ = CopyToPhone();
    else if (list_ == TCacheList::Local)
        outcome_ = DeleteLocal();
    else
        outcome_ = DeleteOnPhone();
}

TOutcome TPackageChange::DeleteLocal() {
    const std::string name = FileNameOf(name_);
    TOutcome outcome = TOutcome::Failure(UnusableName);
    if (!name.empty())
        outcome = DeviceFiles::Remove(folders_.ArchivesDir + name_)
                      ? TOutcome::Success()
                      : TOutcome::Failure(SafeFiles::ErrnoText(errno));
    relisted_ =
        TListedPackages{PackageCaches::LocalPackages(folders_.ArchivesDir), TOutcome::Success()};
    return outcome;
}

TOutcome TPackageChange::DeleteOnPhone() {
    const std::string name = FileNameOf(name_);
    const TOutcome deleted =
        name.empty()
            ? TOutcome::Failure(UnusableName)
            : phone_.iPhone_del(PhoneFolders::File(PackageCaches::PhoneFolderOf(list_), name));
    if (deleted)
        relisted_ = ListPhoneFolder(phone_, list_);
    return deleted;
}

TOutcome TPackageChange::CopyToPhone() {
    const std::string name = FileNameOf(name_);
    // The package is sent as it lies in the local cache: only a regular file
    // there, never what a link points at.
    const QString local = folders_.ArchivesDir + name_;
    const TOutcome sent =
        name.empty() ? TOutcome::Failure(UnusableName)
        : !DeviceFiles::IsRegularFile(local)
            ? TOutcome::Failure(QStringLiteral("не обычный файл"))
            : phone_.iPhone_put(local,
                                PhoneFolders::File(PackageCaches::PhoneFolderOf(list_), name));
    TListedPackages listed = ListPhoneFolder(phone_, list_);
    if (listed.Outcome) // a list that cannot be read keeps what it shows
        relisted_ = std::move(listed);
    return sent;
}

QStringList TPackageChange::Warnings() const {
    if (outcome_)
        return {};
    if (action_ == TAction::CopyToPhone)
        return {QStringLiteral("Пакет \"%1\" не отправлен на телефон: %2.")
                    .arg(name_, outcome_.Reason)};
    if (list_ != TCacheList::Local)
        return {
            QStringLiteral("Пакет \"%1\" не удалён с телефона: %2.").arg(name_, outcome_.Reason)};
    return {QStringLiteral("Пакет \"%1\" не удалён: %2.").arg(name_, outcome_.Reason)};
}
