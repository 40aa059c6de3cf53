#include "sources/RefreshFetch.h"

#include "archive/FileTools.h"
#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "sources/Refresh.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <map>

namespace {

constexpr qint64 MinScratchSize = 128;
constexpr qint64 CopyBlock = qint64(1) << 20;

// Address + suffix with every "./" removed: the URL requested.
QString AttemptUrl(const QString& address, const QString& suffix) {
    QString url = address + suffix;
    url.remove(QStringLiteral("./"));
    return url;
}

QString GunzipReason(FileTools::TGUnZipOutcome outcome) {
    using O = FileTools::TGUnZipOutcome;
    switch (outcome) {
    case O::NotGzip:
        return QStringLiteral("это не gzip");
    case O::InflateError:
        return QStringLiteral("архив повреждён или оборван");
    case O::TrailerMismatch:
        return QStringLiteral("контрольная сумма архива не сходится");
    case O::NameRefused:
        return QStringLiteral("недопустимое имя файла в архиве");
    case O::TooLarge:
        return QStringLiteral("распакованный индекс больше %1 байт").arg(SafeFiles::MaxIndexSize);
    case O::NoSource:
        return QStringLiteral("архив не прочитан");
    default:
        return QStringLiteral("распакованный индекс не записан");
    }
}

} // namespace

// ---- one source ----

// One form of the index a source is asked for.
struct TSourceFetch::TAttempt {
    const char* Suffix;
    const char* File;
    const char* Form; // how the reason names it
    TKind Kind;
    bool Archive; // false: the plain index
};

// What the attempts of one source met, said in one line: attempts that met
// the same answer are named together ("http://host/Packages — .gz, .bz2 и без
// сжатия: HTTP 404").
class TSourceFetch::TLog {
public:
    explicit TLog(const QString& address) : address_(address) {}

    void Add(const char* form, const QString& reason) {
        if (groups_.empty() || groups_.back().Reason != reason)
            groups_.push_back({{}, reason});
        groups_.back().Forms << QString::fromUtf8(form);
    }
    TOutcome Failure(const char* form, const QString& reason) {
        Add(form, reason);
        return Failure();
    }
    TOutcome Failure() const {
        QStringList parts;
        for (const TGroup& g : groups_) {
            QString forms = g.Forms.first();
            for (qsizetype i = 1; i < g.Forms.size(); ++i)
                forms += (i + 1 == g.Forms.size() ? QStringLiteral(" и ") : QStringLiteral(", ")) +
                         g.Forms[i];
            parts << forms + QStringLiteral(": ") + g.Reason;
        }
        return TOutcome::Failure(address_ + QStringLiteral(" — ") +
                                 parts.join(QStringLiteral("; ")));
    }

private:
    struct TGroup {
        QStringList Forms;
        QString Reason;
    };
    QString address_;
    std::vector<TGroup> groups_;
};

namespace {

// True when the file begins with the format's signature (gzip 1f 8b, bzip2
// "BZh", xz fd "7zXZ" 00, zstd 28 b5 2f fd).
bool StartsAsArchive(int kind, const QString& path) {
    static constexpr std::string_view magic[] = {{"\x1f\x8b", 2},
                                                 {"BZh", 3},
                                                 {"\xfd"
                                                  "7zXZ\0",
                                                  6},
                                                 {"\x28\xb5\x2f\xfd", 4}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(qint64(magic[kind].size()));
    return std::string_view(head.constData(), std::size_t(head.size())) == magic[kind];
}

} // namespace

TSourceFetch::TSourceFetch(QString address, QString workDir, QString storeDir, THTTPRequest base,
                           std::optional<TIndexValidators> stored)
    : address_(std::move(address)), workDir_(std::move(workDir)), storeDir_(std::move(storeDir)),
      base_(std::move(base)), stored_(std::move(stored)) {}

QString TSourceFetch::In(const char* name) const {
    return dir_->path() + QLatin1Char('/') + QLatin1String(name);
}

void TSourceFetch::Stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    if (transfer_)
        transfer_->Stop();
}

void TSourceFetch::Abandon() {
    abandoned_.store(true);
    Stop();
}

void TSourceFetch::Run() {
    // The compressed forms before the plain index; the newer forms only when
    // even the plain index was a web page.
    static const TAttempt attempts[] = {
        {".gz", "download.txt.gz", ".gz", TKind::Gzip, true},
        {".bz2", "download.txt.bz2", ".bz2", TKind::Bzip2, true},
        {"", "download.txt", "без сжатия", TKind::Gzip, false},
        {".xz", "download.txt.xz", ".xz", TKind::Xz, true},
        {".zst", "download.txt.zst", ".zst", TKind::Zstd, true},
    };
    TLog log(address_);
    dir_ = std::make_unique<QTemporaryDir>(workDir_ + QStringLiteral(".unpack-XXXXXX"));
    if (!dir_->isValid()) {
        result_.Outcome = log.Failure(
            attempts[0].Form,
            QStringLiteral("не удалось создать временную папку: %1").arg(dir_->errorString()));
        return;
    }
    bool decided = false;
    for (int i = 0; i < int(std::size(attempts)) && !decided; ++i) {
        attempt_.store(i);
        total_.store(0);
        readed_.store(0);
        if (OnChange)
            OnChange();
        decided = Try(attempts[i], log);
    }
    // Every form was a web page: the log already names each one.
    if (!decided)
        result_.Outcome = log.Failure();
    else if (result_.Outcome && !result_.Unchanged)
        Prepare(In("download.txt"));
    dir_.reset();
}

THTTPResult TSourceFetch::Transfer(const TAttempt& a, const QString& url, const QString& file) {
    THTTPRequest request = base_;
    request.URL = url;
    request.FileName = file;
    request.BinaryData = a.Archive;
    // Neither a compressed nor a plain index may be larger than an index.
    request.MaxSize = std::int64_t(SafeFiles::MaxIndexSize);
    if (stored_ && stored_->Url == url) {
        request.IfNoneMatch = stored_->ETag;
        request.IfModifiedSince = stored_->LastModified;
    }
    THTTPTransfer transfer(std::move(request));
    transfer.OnProgress = [this, &transfer] {
        total_.store(transfer.TotalSize());
        readed_.store(transfer.Readed());
        if (OnChange)
            OnChange();
    };
    {
        std::lock_guard lock(mutex_);
        transfer_ = &transfer;
        if (stopped_)
            transfer.Stop();
    }
    THTTPResult result = transfer.Run();
    std::lock_guard lock(mutex_);
    transfer_ = nullptr;
    return result;
}

// One attempt; true when it decided the source (a new index, an unchanged
// one, or a failure that ends the source); a web page lets the next attempt
// follow.
bool TSourceFetch::Try(const TAttempt& a, TLog& log) {
    const QString url =
        AttemptUrl(result_.MovedTo.isEmpty() ? address_ : result_.MovedTo, QLatin1String(a.Suffix));
    const QString file = In(a.File);
    const bool conditional = stored_ && stored_->Url == url;
    const THTTPResult answer = Transfer(a, url, file);
    // Sent from http to the same address under https: the server wants https,
    // so the rest of the source (and, through the window, every later
    // refresh) asks there at once.
    if (result_.MovedTo.isEmpty())
        result_.MovedTo = TRefresh::HttpsAddress(address_, url, answer.FinalUrl);
    bool stopped = false;
    {
        std::lock_guard lock(mutex_);
        stopped = stopped_;
    }
    // A stopped source makes no further attempt and keeps its index.
    if (stopped) {
        result_.Outcome = log.Failure(a.Form, QStringLiteral("остановлено"));
        return true;
    }
    if (conditional && answer.Outcome && answer.Status == HTTPGetRules::NotModified) {
        result_.Unchanged = true;
        result_.Outcome = {true, QStringLiteral("без изменений")};
        return true;
    }
    const TRefresh::TScratch scratch = TRefresh::CheckScratchFile(file);
    // An answer that does not even begin as the format asked for is no
    // archive of it (a text file served under the name, a page without "<"):
    // like a web page, it lets the next form be tried.
    if (scratch == TRefresh::TScratch::Data && a.Archive && !StartsAsArchive(int(a.Kind), file)) {
        QFile::remove(file);
        static const char* const formats[] = {"gzip", "bzip2", "xz", "zstd"};
        log.Add(a.Form, QStringLiteral("ответ не в формате %1")
                            .arg(QLatin1String(formats[static_cast<int>(a.Kind)])));
        return false;
    }
    if (scratch == TRefresh::TScratch::Data) {
        // The source's connections are done with: the next fetch may start.
        transfersOver_.store(true);
        if (OnChange)
            OnChange();
        const QString reason = a.Archive ? Unpack(a.Kind, file) : QString();
        result_.Outcome = reason.isEmpty() ? TOutcome::Success() : log.Failure(a.Form, reason);
        result_.Validators = {url, answer.ETag, answer.LastModified};
        return true;
    }
    const QString reason = AnswerReason(answer, scratch == TRefresh::TScratch::WebPage, file);
    QFile::remove(file);
    if (scratch == TRefresh::TScratch::MissingOrShort) {
        result_.Outcome = log.Failure(a.Form, reason);
        return true;
    }
    log.Add(a.Form, reason);
    return false;
}

// What a scratch file that is no index tells of its answer.
QString TSourceFetch::AnswerReason(const THTTPResult& answer, bool webPage,
                                   const QString& file) const {
    const QString& error = answer.Outcome.Reason;
    if (!QFileInfo::exists(file))
        return error.isEmpty() ? QStringLiteral("нет ответа") : error;
    if (answer.Status / 100 != 2)
        return HTTPGetRules::StatusText(answer.Status);
    if (webPage)
        return QStringLiteral("веб-страница вместо индекса");
    if (!answer.Outcome)
        return error;
    return QStringLiteral("ответ короче %1 байт").arg(MinScratchSize);
}

QString TSourceFetch::Unpack(TKind kind, const QString& archive) {
    const QString output = In("download.txt");
    QString reason;
    if (kind == TKind::Gzip) {
        // The archive's stored name is accepted only as "download.txt" or
        // "Packages", and the folder is the fetch's own.
        const FileTools::TGUnZipResult result = FileTools::GUnZipFile(
            archive, dir_->path() + QLatin1Char('/'), FileTools::DefaultBufferSize,
            {QStringLiteral("download.txt"), QStringLiteral("Packages")});
        // A corrupt or cut-short archive keeps the previous index.
        if (result.Outcome != FileTools::TGUnZipOutcome::Ok &&
            result.Outcome != FileTools::TGUnZipOutcome::SetTimeFailed)
            reason = GunzipReason(result.Outcome);
        else if (result.OutputPath != output && (QFileInfo(result.OutputPath).isSymLink() ||
                                                 !QFile::rename(result.OutputPath, output)))
            reason = QStringLiteral("распакованный индекс не записан");
    } else {
        const FileTools::TCompression compression =
            kind == TKind::Bzip2 ? FileTools::TCompression::Bzip2
            : kind == TKind::Xz  ? FileTools::TCompression::Xz
                                 : FileTools::TCompression::Zstd;
        const FileTools::TDecompressResult result =
            FileTools::UncompressFile(compression, archive, output);
        if (!result.Ok())
            reason = QStringLiteral("архив не распакован: %1").arg(result.Text());
    }
    QFile::remove(archive);
    return reason;
}

// The work of storing that does not depend on the walk's order, done here
// so that the walk's turn only renames: the index checked against the index
// limits (its stanzas counted as the load counts them, so that an index the
// load would skip is never stored), written beside its stored name and
// flushed to disk.
void TSourceFetch::Prepare(const QString& unpacked) {
    const QString name = IndexStore::AddressToIndexName(address_);
    QString reason;
    QFile in(unpacked);
    if (!in.open(QIODevice::ReadOnly))
        reason = QStringLiteral("распакованный индекс не найден");
    else if (in.size() > qint64(SafeFiles::MaxIndexSize))
        reason = QStringLiteral("индекс больше %1 байт").arg(SafeFiles::MaxIndexSize);
    else if (!SafeFiles::IsPlainFileName(name.toStdString()))
        reason = QStringLiteral("недопустимое имя файла индекса \"%1\"").arg(name);
    auto out = std::make_unique<SafeFiles::TAtomicFile>(storeDir_ + name);
    if (reason.isEmpty()) {
        TextFile::TStanzaCounter stanzas;
        bool ok = out->Open();
        std::vector<char> block(static_cast<std::size_t>(CopyBlock));
        for (qint64 n = 1; ok && n > 0 && reason.isEmpty();) {
            n = abandoned_.load() ? -1 : in.read(block.data(), CopyBlock);
            if (n < 0)
                reason = abandoned_.load() ? QStringLiteral("остановлено") : in.errorString();
            else if (n == 0 && out->Written() > SafeFiles::MaxIndexSize)
                reason = QStringLiteral("индекс больше %1 байт").arg(SafeFiles::MaxIndexSize);
            else if (n == 0 && stanzas.Count() > SafeFiles::MaxIndexStanzas)
                reason =
                    QStringLiteral("в индексе больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
            else if (n == 0)
                ok = out->Flush();
            if (n > 0) {
                stanzas.Feed(std::string_view(block.data(), std::size_t(n)));
                ok = out->Write(block.data(), std::size_t(n));
            }
        }
        if (!ok && reason.isEmpty())
            reason = QStringLiteral("индекс не записан: %1").arg(out->ErrorString());
    }
    if (reason.isEmpty())
        result_.Prepared = std::move(out);
    else
        result_.Outcome = TOutcome::Failure(address_ + QStringLiteral(" — ") + reason);
}

// ---- the fetcher ----

struct TRefreshFetcher::TJob {
    enum class TState { Queued, Running, Done };
    int Key = 0;
    QString Host;
    std::unique_ptr<TSourceFetch> Fetch;
    TState State = TState::Queued;
    std::atomic<bool> Finished{false};
    bool Taken = false;      // handed to the walk: its index is no longer held here
    Workers::TWorker Worker; // last: joined before the fetch goes
};

TRefreshFetcher::TRefreshFetcher(THTTPRequest base, QString workDir, QString storeDir,
                                 const TValidatorStore* validators)
    : base_(std::move(base)), workDir_(std::move(workDir)), storeDir_(std::move(storeDir)),
      validators_(validators) {}

TRefreshFetcher::~TRefreshFetcher() {
    stopped_ = true;
    for (const auto& job : jobs_)
        job->Fetch->Abandon();
}

void TRefreshFetcher::Add(int key, const QString& address) {
    auto job = std::make_unique<TJob>();
    job->Key = key;
    const QUrl url(HTTPGetRules::RequestUrl(address));
    job->Host = url.host().toLower() + QLatin1Char(':') + QString::number(url.port(0));
    std::optional<TIndexValidators> stored;
    if (validators_)
        stored = validators_->For(IndexStore::AddressToIndexName(address));
    job->Fetch =
        std::make_unique<TSourceFetch>(address, workDir_, storeDir_, base_, std::move(stored));
    job->Fetch->OnChange = [this] { Changed(); };
    jobs_.push_back(std::move(job));
}

void TRefreshFetcher::Changed() {
    if (!changed_.exchange(true))
        LongOperation::Wake();
}

void TRefreshFetcher::StopAll() {
    stopped_ = true;
    for (const auto& job : jobs_)
        job->Fetch->Stop();
}

void TRefreshFetcher::StartWhatMay(const TJob* awaited) {
    int transfers = 0, fetches = 0, ahead = 0;
    std::map<QString, int> perHost; // transfers per server
    for (const auto& job : jobs_) {
        if (job->State == TJob::TState::Running && job->Finished.load()) {
            job->Worker.Join();
            job->State = TJob::TState::Done;
        }
        if (job->State == TJob::TState::Running) {
            ++fetches;
            if (!job->Fetch->TransfersOver()) {
                ++transfers;
                ++perHost[job->Host];
            }
        }
        ahead +=
            job->State == TJob::TState::Running || (job->State == TJob::TState::Done && !job->Taken)
                ? 1
                : 0;
    }
    for (const auto& job : jobs_) {
        if (stopped_ || transfers >= MaxTransfers || fetches >= MaxFetches)
            break;
        if (job->State != TJob::TState::Queued || perHost[job->Host] >= MaxPerHost)
            continue;
        if (ahead >= MaxAhead && job.get() != awaited)
            continue;
        ++ahead;
        ++fetches;
        ++transfers;
        ++perHost[job->Host];
        job->State = TJob::TState::Running;
        TJob* started = job.get();
        started->Worker = Workers::TWorker([this, started] {
            try {
                started->Fetch->Run();
            } catch (...) {
                started->Fetch->Result().Outcome =
                    TOutcome::Failure(QStringLiteral("внутренняя ошибка"));
            }
            started->Finished.store(true);
            Changed();
        });
    }
}

TFetchedIndex& TRefreshFetcher::Wait(int key, const std::function<void(int)>& progress) {
    TJob* job = nullptr;
    for (const auto& j : jobs_)
        if (j->Key == key)
            job = j.get();
    int attempt = 0;
    std::int64_t readed = 0;
    for (;;) {
        changed_.store(false);
        StartWhatMay(job);
        if (job->State == TJob::TState::Queued && stopped_) {
            // Never started: it ends here, as stopped, without a request.
            job->Fetch->Run();
            job->State = TJob::TState::Done;
        }
        const TSourceFetch& fetch = *job->Fetch;
        // Each further attempt starts the bar at 0, also those that ended
        // before this source's turn came.
        for (; attempt < fetch.Attempt(); readed = 0)
            ++attempt, progress(0);
        if (fetch.Readed() > 0 && fetch.Readed() != readed) {
            readed = fetch.Readed();
            progress(LongOperation::Percent(fetch.TotalSize(), readed));
        }
        if (job->State == TJob::TState::Done) {
            job->Taken = true;
            return job->Fetch->Result();
        }
        LongOperation::WaitUntil([this] { return changed_.load(); });
    }
}
