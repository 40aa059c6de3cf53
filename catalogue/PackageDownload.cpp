#include "catalogue/PackageDownload.h"

#include "base/PhoneFolders.h"
#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "base/Utf8Text.h"
#include "base/Workers.h"
#include "catalogue/ArchiveCache.h"
#include "catalogue/PackageList.h"
#include "catalogue/PackageRow.h"
#include "net/HTTPGet.h"
#include "net/HTTPPool.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <utility>

namespace {

QByteArray Encoded(const QString& path) {
    return QFile::encodeName(path);
}

QString Decoded(const std::string& name) {
    return Utf8Text::Decode(name);
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
    // The lines are split as the full rewrite splits them, one by one with
    // the two before at hand, so that no table of every line is built.
    const std::string_view records = std::string_view(text).substr(0, runs.RecordsEnd());
    std::string_view older, old; // the lines two and one places above
    std::size_t pos = 0;
    for (std::size_t i = 0; pos < records.size(); ++i) {
        const std::size_t lf = records.find('\n', pos);
        const std::size_t end = lf == std::string_view::npos          ? records.size()
                                : lf > pos && records[lf - 1] == '\r' ? lf - 1
                                                                      : lf;
        const std::string_view line = records.substr(pos, end - pos);
        pos = lf == std::string_view::npos ? records.size() : lf + 1;
        const auto hit = i >= 2 && older.starts_with('$') ? lines_.find(line) : lines_.end();
        // With architectures known, only where a record's identifier lies.
        if (hit != lines_.end() && (!knowsArchitectures_ || i % 7 == 4)) {
            TLine kept{static_cast<std::uint64_t>(older.data() - text.data()), std::string(older),
                       std::string(old), TArchitecture()};
            if (knowsArchitectures_)
                kept.Architecture = runs.At(i / 7);
            hit->second.push_back(std::move(kept));
        }
        older = old;
        old = line;
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

// One marked row: what its index says, and its transfer.
struct TPackageDownload::TFetch {
    int Row = 0;
    bool Described = false;
    bool Found = false;
    TShownPackage Shown;
    QString Refused; // why nothing is fetched for a row that was found
    ArchiveCache::TExpected Expected;
    QString File;                            // the body, in the run's private folder
    std::shared_ptr<THTTPTransfer> Transfer; // none: nothing to fetch
    std::atomic<bool> Ended{false};
    std::atomic<int> Percent{0}; // the last percentage the window was woken for
    THTTPResult Result;          // written before Ended
    TOutcome Flushed;            // the body is on the disk; written before Ended
    std::string Digest;          // of the body on the disk; written before Ended
    Workers::TWorker Flush;
};

TPackageDownload::TPackageDownload(TDownloadView& view, const THTTPGet& http,
                                   TOperationReport& report, TStopFlag& stop, TFolders folders)
    : view_(view), report_(report), stop_(stop), folders_(std::move(folders)),
      base_(http.Request()) {
    base_.BinaryData = true;
    base_.KeepAlive = true;
}

TPackageDownload::~TPackageDownload() = default;

void TPackageDownload::Changed() {
    if (!changed_.exchange(true))
        LongOperation::Wake();
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
        if (!wanted)
            continue;
        if (const TOutcome sent = view_.PhonePut(stored, remote); !sent)
            unsent_ << SafeFiles::PrintableName(remote) + QStringLiteral(": ") + sent.Reason;
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

// Reads the row's details and, when there is something to fetch, gives its
// transfer to the pool.
void TPackageDownload::Describe(TFetch& fetch, std::size_t index) {
    fetch.Described = true;
    fetch.Found = view_.Describe(fetch.Row, fetch.Shown);
    if (!fetch.Found)
        return;
    // A name that would leave the cache folder (or is no name at all) fails the
    // row before anything is fetched or written.
    const std::string& localName = fetch.Shown.LocalName;
    if (const QString why = ArchiveCache::UnusableNameReason(localName); !why.isEmpty()) {
        fetch.Refused = QStringLiteral("имя файла \"%1\" не годится для кэша: %2")
                            .arg(SafeFiles::PrintableName(localName), why);
        return;
    }
    if (folder_.isEmpty()) {
        fetch.Refused = QStringLiteral("не удалось создать временную папку: %1").arg(folderError_);
        return;
    }
    const TShownPackage& shown = fetch.Shown;
    fetch.Expected =
        ArchiveCache::ExpectedFrom(shown.SizeText, shown.Sha256, shown.Sha1, shown.Md5);
    // The transfer stops as soon as it passes the size the index gives (never
    // past the package cap): a server cannot fill the disk.
    THTTPRequest request = base_;
    request.URL = QString::fromUtf8(shown.Address);
    fetch.File = folder_ + QString::number(index) + QStringLiteral(".deb");
    request.FileName = fetch.File;
    request.MaxSize = std::int64_t(fetch.Expected.HasSize
                                       ? std::min(fetch.Expected.Size, SafeFiles::MaxPackageSize)
                                       : SafeFiles::MaxPackageSize);
    fetch.Transfer = std::make_shared<THTTPTransfer>(std::move(request));
    // Only the package whose turn it is shows its progress, and the window
    // wakes only when the percentage it shows changes: a large package
    // arrives in thousands of pieces.
    fetch.Transfer->OnProgress = [this, &fetch] {
        if (awaited_.load() != &fetch)
            return;
        const THTTPTransfer& transfer = *fetch.Transfer;
        const int percent = LongOperation::Percent(transfer.TotalSize(), transfer.Readed());
        if (fetch.Percent.exchange(percent) != percent)
            Changed();
    };
    pool_->Add(fetch.Transfer, [this, &fetch](const THTTPResult& result) {
        fetch.Result = result;
        if (!result.Outcome) {
            fetch.Ended.store(true);
            Changed();
            return;
        }
        // A package is kept by renaming it, so its bytes must be on the disk
        // first; they are hashed on the way. That work has a thread of its
        // own: the pool's thread goes on with the other transfers, the walk
        // with the rows before, and the flushes of packages that end
        // together overlap (the disk takes several flushes at once far
        // faster than one after another).
        fetch.Flush = Workers::TWorker::StartOrRunHere([this, &fetch] {
            fetch.Flushed = ArchiveCache::FlushScratch(fetch.File, fetch.Expected, fetch.Digest);
            fetch.Ended.store(true);
            Changed();
        });
    });
}

// Starts the fetches of the rows from Turn on, in list order, while fewer
// than MaxAhead are under way or wait for their turn.
void TPackageDownload::StartAhead(std::size_t turn) {
    int held = 0;
    for (std::size_t i = turn; i < fetches_.size() && held < MaxAhead; ++i) {
        TFetch& fetch = *fetches_[i];
        if (!fetch.Described)
            Describe(fetch, i);
        held += fetch.Transfer ? 1 : 0;
    }
}

// Handles the window's events until the fetch has ended, showing its progress.
void TPackageDownload::WaitFor(TFetch& fetch) {
    awaited_.store(&fetch);
    int shown = 0;
    for (;;) {
        changed_.store(false);
        const bool ended = fetch.Ended.load();
        const int percent =
            LongOperation::Percent(fetch.Transfer->TotalSize(), fetch.Transfer->Readed());
        if (percent != shown) {
            shown = percent;
            report_.Progress(percent);
        }
        if (ended)
            break;
        LongOperation::WaitUntil([this] { return changed_.load(); });
    }
    awaited_.store(nullptr);
}

TOutcome TPackageDownload::DownloadRow(TFetch& fetch) {
    view_.ShowRow(fetch.Row);
    if (!fetch.Found)
        return TOutcome::Failure(QStringLiteral("нет в его индексе"));
    if (!fetch.Refused.isEmpty())
        return TOutcome::Failure(fetch.Refused);
    report_.Progress(0);
    WaitFor(fetch);
    // The row being fetched when Stop came keeps its mark: stopped, not failed.
    if (stop_.IsSet())
        return TOutcome::Success();
    struct stat st {};
    const QByteArray file = Encoded(fetch.File);
    if (::lstat(file.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        const QString& reason = fetch.Result.Outcome.Reason;
        return TOutcome::Failure((reason.isEmpty() ? QStringLiteral("файл не получен") : reason) +
                                 QStringLiteral(" (") + QString::fromUtf8(fetch.Shown.Address) +
                                 QLatin1Char(')'));
    }
    // An error page is never the package, even where the index gives no
    // size or hash to tell it by.
    if (const long status = fetch.Result.Status; status >= 400)
        return TOutcome::Failure(
            QStringLiteral("сервер ответил %1 (%2)")
                .arg(HTTPGetRules::StatusText(status), QString::fromUtf8(fetch.Shown.Address)));
    if (!fetch.Flushed)
        return TOutcome::Failure(fetch.Flushed.Reason + QStringLiteral(" (") +
                                 QString::fromUtf8(fetch.Shown.Address) + QLatin1Char(')'));
    return Store(fetch);
}

TOutcome TPackageDownload::Store(TFetch& fetch) {
    const std::string& localName = fetch.Shown.LocalName;
    const ArchiveCache::TExpected& expected = fetch.Expected;
    const std::uint64_t arrived = SizeOf(fetch.File);
    switch (
        ArchiveCache::Move(fetch.File, fetch.Digest, folders_.ArchivesDir, localName, expected)) {
    case ArchiveCache::TStoreResult::Stored:
        stored_ = true;
        view_.SetMarked(fetch.Row, false);
        view_.SetState(fetch.Row, StateDownloaded);
        indexing_.Join();
        states_.Update(view_.KeyOf(fetch.Row), StateDownloaded);
        // Only a file that passed the checks ever reaches the phone.
        CopyToPhone(localName);
        return TOutcome::Success();
    case ArchiveCache::TStoreResult::Mismatch:
        // Not the file the index describes: not stored, and the mark stays so
        // that it can be fetched again once the repository is mended.
        if (expected.HasSize && arrived != expected.Size)
            return TOutcome::Failure(QStringLiteral("получено %1 байт, индекс называет %2")
                                         .arg(arrived)
                                         .arg(expected.Size));
        return TOutcome::Failure(QStringLiteral("контрольная сумма не совпадает с индексом"));
    case ArchiveCache::TStoreResult::Failed:
        break;
    }
    return TOutcome::Failure(
        QStringLiteral("не удалось записать в локальный кэш %1").arg(folders_.ArchivesDir));
}

void TPackageDownload::Run() {
    fetches_.clear();
    std::vector<TPackageKey> keys;
    for (int i = 0, rows = view_.RowCount(); i < rows; ++i) {
        if (!view_.IsMarked(i))
            continue;
        keys.push_back(view_.KeyOf(i));
        fetches_.push_back(std::make_unique<TFetch>());
        fetches_.back()->Row = i;
    }
    if (fetches_.empty())
        return;

    report_.Busy(true);
    // The saved list is searched for the rows' state lines beside the first
    // transfers; the first store waits for it.
    indexing_ = Workers::TWorker::StartOrRunHere([this, keys = std::move(keys)] {
        try {
            states_.Index(folders_.CacheFile, keys);
        } catch (const std::bad_alloc&) {
            // Not indexed: every update rewrites the whole list instead.
        }
    });
    // Everything fetched lies in a folder of the run's own (which start-up
    // removes after a crash), so that nothing fetched for a row whose turn
    // never came outlives the run.
    QTemporaryDir dir(folders_.WorkDir + QStringLiteral(".unpack-XXXXXX"));
    folder_ = dir.isValid() ? dir.path() + QLatin1Char('/') : QString();
    folderError_ = dir.errorString();
    QStringList failures;
    unsent_.clear();
    stored_ = false;
    {
        THTTPPool pool(MaxTransfers); // gone, with its transfers, before the folder
        pool_ = &pool;
        const QMetaObject::Connection stop =
            QObject::connect(&stop_, &TStopFlag::raised, [&pool] { pool.StopAll(); });
        for (std::size_t turn = 0; turn < fetches_.size() && !stop_.IsSet(); ++turn) {
            StartAhead(turn);
            TFetch& fetch = *fetches_[turn];
            const TOutcome outcome = DownloadRow(fetch);
            if (!outcome)
                failures << Label(view_.KeyOf(fetch.Row)) + QStringLiteral(": ") + outcome.Reason;
            if (!fetch.File.isEmpty())
                ::unlink(Encoded(fetch.File).constData());
        }
        QObject::disconnect(stop);
        pool_ = nullptr;
    }
    indexing_.Join();
    fetches_.clear();
    // The cache folder is flushed once for the whole run rather than after
    // each rename, which costs a wait for the disk per package. A crash
    // before it can only undo renames: those packages are then not in the
    // cache, each old file (or none) is there whole, and the next start
    // shows them as not downloaded, as the folder has it.
    if (stored_)
        ArchiveCache::FlushFolder(folders_.ArchivesDir);

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
