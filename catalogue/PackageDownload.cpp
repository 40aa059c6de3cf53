#include "catalogue/PackageDownload.h"

#include "base/PhoneFolders.h"
#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/PackageList.h"
#include "catalogue/PackageRow.h"
#include "net/HTTPGet.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <utility>

namespace {

QByteArray Encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString Decoded(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

bool SameFile(const struct stat& st, std::uint64_t device, std::uint64_t inode,
              std::uint64_t size) {
    return S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_dev) == device &&
           static_cast<std::uint64_t>(st.st_ino) == inode &&
           static_cast<std::uint64_t>(st.st_size) == size;
}

} // namespace

// ---- the saved list's state lines ----

void TSavedStates::Index(const QString& cacheFile, const std::vector<TPackageKey>& keys) {
    cacheFile_ = cacheFile;
    keys_ = keys;
    lines_.clear();
    indexed_ = false;
    knowsArchitectures_ = false;
    for (const TPackageKey& key : keys)
        lines_.try_emplace(key.Package);

    const QByteArray path = Encoded(cacheFile);
    struct stat before {};
    if (::lstat(path.constData(), &before) != 0 || !S_ISREG(before.st_mode))
        return;
    std::string text;
    if (!SafeFiles::ReadAll(cacheFile, SafeFiles::MaxTextSize, text))
        return;
    struct stat after {};
    if (::lstat(path.constData(), &after) != 0 ||
        !SameFile(after, before.st_dev, before.st_ino, text.size()))
        return; // replaced while it was read: updates take the slow way
    device_ = static_cast<std::uint64_t>(after.st_dev);
    inode_ = static_cast<std::uint64_t>(after.st_ino);
    size_ = text.size();

    // Only an identifier line has a state line two places above it, the same
    // test the full rewrite makes; the version line lies between them.
    const PackageList::TArchitectureRuns runs(text);
    knowsArchitectures_ = runs.Known();
    const std::vector<std::string_view> lines =
        TextFile::SplitIndexLines(std::string_view(text).substr(0, runs.RecordsEnd()));
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (!lines[i - 2].starts_with('$'))
            continue;
        const auto hit = lines_.find(lines[i]);
        if (hit == lines_.end())
            continue;
        TLine line{static_cast<std::uint64_t>(lines[i - 2].data() - text.data()),
                   std::string(lines[i - 2]), std::string(lines[i - 1]), TArchitecture()};
        if (knowsArchitectures_) {
            if (i % 7 != 4)
                continue; // not where a record's identifier lies
            line.Architecture = runs.At(i / 7);
        }
        hit->second.push_back(std::move(line));
    }
    indexed_ = true;
}

bool TSavedStates::UpdateInPlace(const std::vector<TLine*>& lines, const std::string& text) {
    const int fd =
        ::open(Encoded(cacheFile_).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool ok = true;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !SameFile(st, device_, inode_, size_))
        ok = false;
    // Every line is checked before any is written, so a file that changed
    // under the index is never patched at all.
    std::string seen;
    for (const TLine* line : lines) {
        if (!ok)
            break;
        seen.resize(line->Text.size());
        ok = ::pread(fd, seen.data(), seen.size(), static_cast<off_t>(line->Offset)) ==
                 static_cast<ssize_t>(seen.size()) &&
             seen == line->Text;
    }
    for (TLine* line : lines) {
        if (!ok)
            break;
        ok = ::pwrite(fd, text.data(), text.size(), static_cast<off_t>(line->Offset)) ==
             static_cast<ssize_t>(text.size());
        if (ok)
            line->Text = text;
    }
    ::close(fd);
    return ok;
}

void TSavedStates::Update(const TPackageKey& key, int state) {
    const std::string text = "$" + std::to_string(state);
    const auto hit = lines_.find(key.Package);
    if (indexed_ && hit != lines_.end()) {
        std::vector<TLine*> changing;
        bool sameLength = true;
        for (TLine& line : hit->second) {
            if (line.Text == text || line.Version != key.Version ||
                (knowsArchitectures_ && !(line.Architecture == key.Architecture)))
                continue;
            changing.push_back(&line);
            sameLength = sameLength && line.Text.size() == text.size();
        }
        if (changing.empty())
            return;
        if (sameLength && UpdateInPlace(changing, text))
            return;
    } else if (indexed_) {
        return; // not an identifier the index looked for: nothing is saved under it
    }
    // The slow way rewrites the whole file atomically; the offsets are found
    // again afterwards.
    PackageList::UpdatePackageIcon(cacheFile_, key, state);
    Index(cacheFile_, keys_);
}

// ---- the download ----

TPackageDownload::TPackageDownload(TDownloadView& view, THTTPGet& http, TOperationReport& report,
                                   TStopFlag& stop, TFolders folders)
    : view_(view), http_(http), report_(report), stop_(stop), folders_(std::move(folders)),
      scratch_(SafeFiles::InFolder(folders_.WorkDir, QLatin1String(PackageDownload::ScratchName))) {
}

void TPackageDownload::RemoveScratch() {
    ::unlink(Encoded(scratch_).constData());
}

QString TPackageDownload::TransferFailure() const {
    return http_.LastError();
}

bool TPackageDownload::GetFile(const std::string& address, std::int64_t maxSize) {
    RemoveScratch();
    report_.Progress(0);
    http_.URL = QString::fromUtf8(address);
    http_.FileName = scratch_;
    http_.BinaryData = true;
    http_.MaxSize = maxSize;
    // Returns once the transfer has ended, a stopped one too: nothing holds
    // the scratch file afterwards.
    http_.StartAndWait(&stop_);

    struct stat st {};
    if (::lstat(Encoded(scratch_).constData(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode) || st.st_size == 0) {
        RemoveScratch();
        return false;
    }
    return true;
}

void TPackageDownload::CopyToPhone(const std::string& localName) {
    // The phone gets the stored, checked file itself: no name is looked up
    // anywhere else, so a name cannot pick another file of the computer.
    const QString stored = SafeFiles::InFolder(folders_.ArchivesDir, Decoded(localName));
    for (const char* folder : {PhoneFolders::Cache, PhoneFolders::AutoInstall}) {
        const bool wanted =
            folder == PhoneFolders::Cache ? view_.PutDebs() : view_.PutAutoInstall();
        const std::string remote = PhoneFolders::File(folder, localName);
        // The package is stored either way; a copy the phone did not take is
        // named at the end, so that it can be sent from the Sync page.
        if (wanted && !view_.PhonePut(stored, remote))
            unsent_ << SafeFiles::PrintableName(remote);
    }
}

namespace {

// "com.example.tweak 1.0 iphoneos-arm64": what a message names a package by,
// with whatever bytes the index had made printable.
QString Label(const TPackageKey& key) {
    QString label = SafeFiles::PrintableName(key.Package);
    if (!key.Version.empty())
        label += QLatin1Char(' ') + SafeFiles::PrintableName(key.Version);
    if (!key.Architecture.empty())
        label += QLatin1Char(' ') + SafeFiles::PrintableName(key.Architecture.View());
    return label;
}

std::uint64_t SizeOf(const QString& path) {
    struct stat st {};
    return ::stat(Encoded(path).constData(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

} // namespace

TOutcome TPackageDownload::DownloadRow(int row) {
    TShownPackage shown;
    if (!view_.ShowRow(row, shown))
        return TOutcome::Failure(QStringLiteral("нет в его индексе"));
    // A name that would leave the cache folder (or is no name at all) fails the
    // row before anything is fetched or written.
    const std::string& localName = shown.LocalName;
    if (const QString why = ArchiveCache::UnusableNameReason(localName); !why.isEmpty())
        return TOutcome::Failure(QStringLiteral("имя файла \"%1\" не годится для кэша: %2")
                                     .arg(SafeFiles::PrintableName(localName), why));
    // The transfer stops as soon as it passes the size the index gives (never
    // past the package cap): a server cannot fill the disk.
    const ArchiveCache::TExpected expected =
        ArchiveCache::ExpectedFrom(shown.SizeText, shown.Sha256, shown.Sha1, shown.Md5);
    const std::uint64_t cap = expected.HasSize ? std::min(expected.Size, SafeFiles::MaxPackageSize)
                                               : SafeFiles::MaxPackageSize;
    if (!GetFile(shown.Address, std::int64_t(cap))) {
        if (stop_.IsSet())
            return TOutcome::Success(); // stopped, not failed: the mark stays
        const QString reason = TransferFailure();
        return TOutcome::Failure((reason.isEmpty() ? QStringLiteral("файл не получен") : reason) +
                                 QStringLiteral(" (") + QString::fromUtf8(shown.Address) +
                                 QLatin1Char(')'));
    }
    if (stop_.IsSet())
        return TOutcome::Success(); // the row being fetched keeps its mark

    // An error page is never the package, even where the index gives no
    // size or hash to tell it by.
    if (const long status = http_.LastStatus(); status >= 400) {
        RemoveScratch();
        return TOutcome::Failure(
            QStringLiteral("сервер ответил %1 (%2)")
                .arg(HTTPGetRules::StatusText(status), QString::fromUtf8(shown.Address)));
    }
    const std::uint64_t arrived = SizeOf(scratch_);
    TOutcome outcome;
    switch (ArchiveCache::Store(scratch_, folders_.ArchivesDir, localName, expected)) {
    case ArchiveCache::TStoreResult::Stored:
        view_.SetMarked(row, false);
        view_.SetState(row, StateDownloaded);
        states_.Update(view_.KeyOf(row), StateDownloaded);
        // Only a file that passed the checks ever reaches the phone.
        CopyToPhone(localName);
        break;
    case ArchiveCache::TStoreResult::Mismatch: {
        // Not the file the index describes: not stored, and the mark stays so
        // that it can be fetched again once the repository is mended.
        if (expected.HasSize && arrived != expected.Size)
            outcome = TOutcome::Failure(QStringLiteral("получено %1 байт, индекс называет %2")
                                            .arg(arrived)
                                            .arg(expected.Size));
        else
            outcome =
                TOutcome::Failure(QStringLiteral("контрольная сумма не совпадает с индексом"));
        break;
    }
    case ArchiveCache::TStoreResult::Failed:
        outcome = TOutcome::Failure(
            QStringLiteral("не удалось записать в локальный кэш %1").arg(folders_.ArchivesDir));
        break;
    }
    RemoveScratch();
    return outcome;
}

void TPackageDownload::Run() {
    const int rows = view_.RowCount();
    std::vector<TPackageKey> keys;
    for (int i = 0; i < rows; ++i)
        if (view_.IsMarked(i))
            keys.push_back(view_.KeyOf(i));
    int left = static_cast<int>(keys.size());
    if (left == 0)
        return;

    report_.Busy(true);
    states_.Index(folders_.CacheFile, keys);
    const QMetaObject::Connection progress = QObject::connect(
        &http_, &THTTPGet::OnProgress, [this](THTTPGet*, qint64 total, qint64 readed) {
            report_.Progress(LongOperation::Percent(total, readed));
        });

    QStringList failures;
    unsent_.clear();
    for (int i = 0; i < rows && left > 0 && !stop_.IsSet(); ++i) {
        if (!view_.IsMarked(i))
            continue;
        const TOutcome outcome = DownloadRow(i);
        if (!outcome)
            failures << Label(view_.KeyOf(i)) + QStringLiteral(": ") + outcome.reason;
        --left;
    }

    RemoveScratch();
    QObject::disconnect(progress);
    report_.Busy(false);
    QStringList messages;
    if (!failures.isEmpty())
        messages << QStringLiteral("Не загружено пакетов: %1. Они остались отмечены.\n")
                            .arg(failures.size()) +
                        failures.join(QLatin1Char('\n'));
    if (!unsent_.isEmpty())
        messages << QStringLiteral("Не отправлено на телефон файлов: %1.\n").arg(unsent_.size()) +
                        unsent_.join(QLatin1Char('\n'));
    if (!messages.isEmpty())
        view_.Warn(messages.join(QStringLiteral("\n\n")));
}
