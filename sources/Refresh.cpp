#include "sources/Refresh.h"

#include "archive/FileTools.h"
#include "base/LongOperation.h"
#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "net/HTTPGet.h"
#include "sources/IndexStore.h"
#include "sources/SourceAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <vector>

namespace {

constexpr qint64 MinScratchSize = 128;
constexpr qint64 CopyBlock = qint64(1) << 20;

const char* const Download = "download.txt";

// A plain file we may open without blocking (no FIFO, device or link).
bool IsPlainFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isSymLink();
}

// Index of the first byte that is neither CR nor LF, or npos.
std::size_t FirstNonLineEnd(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] != '\r' && bytes[i] != '\n')
            return i;
    return std::string_view::npos;
}

} // namespace

const char* const TRefresh::ScratchFiles[] = {"download.txt",     "download.txt.gz",
                                              "download.txt.bz2", "download.txt.xz",
                                              "download.txt.zst", nullptr};

TRefresh::TRefresh(THTTPGet& http, TStopFlag& stop, QString workDir, QString procDir,
                   TOperationReport& report, QString listsDir)
    : http_(http), stop_(stop), workDir_(std::move(workDir)), procDir_(std::move(procDir)),
      report_(report), listsDir_(std::move(listsDir)) {}

// ---- the scratch file check ----

TRefresh::TScratch TRefresh::CheckScratchFile(const QString& path) {
    if (!IsPlainFile(path))
        return TScratch::MissingOrShort;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < MinScratchSize)
        return TScratch::MissingOrShort;
    // Only the first byte that is not a line end matters; a file of nothing
    // but line ends is data.
    std::vector<char> block(64 * 1024);
    for (;;) {
        const qint64 n = file.read(block.data(), qint64(block.size()));
        if (n < 0)
            return TScratch::MissingOrShort;
        if (n == 0)
            return TScratch::Data;
        const std::string_view bytes(block.data(), std::size_t(n));
        const std::size_t first = FirstNonLineEnd(bytes);
        if (first != std::string_view::npos)
            return bytes[first] == '<' ? TScratch::WebPage : TScratch::Data;
    }
}

QString TRefresh::HttpsAddress(const QString& address, const QString& asked,
                               const QString& answered) {
    const QUrl from(asked), to(answered);
    if (from.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) != 0 ||
        to.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0 ||
        from.host().compare(to.host(), Qt::CaseInsensitive) != 0 || from.path() != to.path() ||
        !SourceAddress::IsHttp(address))
        return {};
    const QString rest = address.mid(7);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    return QStringLiteral("https://") + to.authority(QUrl::FullyEncoded) +
           (slash < 0 ? QString() : rest.mid(slash));
}

QString TRefresh::AttemptUrl(const QString& address, const QString& suffix) {
    QString url = address + suffix;
    url.remove(QStringLiteral("./"));
    return url;
}

// ---- the walk ----

int TRefresh::Walk(const std::vector<TSourceEntry>& sources) {
    outcomes_.clear();
    if (sources.empty())
        return 0;
    report_.Busy(true);
    const QMetaObject::Connection progress = QObject::connect(
        &http_, &THTTPGet::OnProgress, [this](THTTPGet*, qint64 total, qint64 readed) {
            report_.Progress(LongOperation::Percent(total, readed));
        });
    int stored = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        report_.ItemStarted(int(i));
        if (sources[i].Checked) {
            const QString& address = sources[i].Text;
            TOutcome outcome = GetRepo(address);
            if (outcome)
                outcome = StoreIndex(address);
            if (outcome)
                ++stored;
            else if (!stop_.IsSet())
                ReportToStderr(outcome.reason);
            outcomes_.push_back({int(i), address, std::move(outcome), movedTo_});
        }
        if (stop_.IsSet())
            break;
    }
    QObject::disconnect(progress);
    report_.Busy(false);
    return stored;
}

TOutcome TRefresh::StoreIndex(const QString& address) {
    const QString source = Work(Download);
    const QString name = IndexStore::AddressToIndexName(address);
    QString reason;
    QFile in(source);
    if (!IsPlainFile(source) || !in.open(QIODevice::ReadOnly))
        reason = QStringLiteral("распакованный индекс не найден");
    else if (in.size() > qint64(SafeFiles::MaxIndexSize))
        reason = QStringLiteral("индекс больше %1 байт").arg(SafeFiles::MaxIndexSize);
    else if (!SafeFiles::IsPlainFileName(name.toStdString()))
        reason = QStringLiteral("недопустимое имя файла индекса \"%1\"").arg(name);
    if (reason.isEmpty()) {
        // The stanzas are counted on the way, as the load counts them: an
        // index the load would skip is never stored.
        TextFile::TStanzaCounter stanzas;
        SafeFiles::TAtomicFile out(procDir_ + name);
        bool ok = out.Open();
        std::vector<char> block(static_cast<std::size_t>(CopyBlock));
        while (ok) {
            const qint64 n = in.read(block.data(), CopyBlock);
            if (n < 0)
                reason = in.errorString();
            else if (n == 0 && out.Written() > SafeFiles::MaxIndexSize)
                reason = QStringLiteral("индекс больше %1 байт").arg(SafeFiles::MaxIndexSize);
            else if (n == 0 && stanzas.Count() > SafeFiles::MaxIndexStanzas)
                reason =
                    QStringLiteral("в индексе больше %1 пакетов").arg(SafeFiles::MaxIndexStanzas);
            else if (n == 0)
                ok = out.Commit();
            if (n <= 0)
                break;
            stanzas.Feed(std::string_view(block.data(), std::size_t(n)));
            ok = out.Write(block.data(), std::size_t(n));
        }
        if (!ok)
            reason = QStringLiteral("индекс не записан: %1").arg(out.ErrorString());
    }
    in.close();
    QFile::remove(source);
    if (!reason.isEmpty())
        return TOutcome::Failure(address + QStringLiteral(" — ") + reason);
    IndexStore::RetireAliases(procDir_, listsDir_, name);
    return TOutcome::Success();
}

// ---- one source ----

// One form of the index a source is asked for.
struct TRefresh::TAttempt {
    const char* Suffix;
    const char* File;
    const char* Form; // how the reason names it
    TKind Kind;
    bool Archive; // false: the plain index
};

// What the attempts of one source met, said in one line: attempts that met
// the same answer are named together ("http://host/Packages — .gz, .bz2 и без
// сжатия: HTTP 404").
class TRefresh::TAttemptLog {
public:
    explicit TAttemptLog(const QString& address) : address_(address) {}

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

void TRefresh::DeleteScratch() const {
    for (const char* const* name = ScratchFiles; *name; ++name)
        QFile::remove(Work(*name));
}

bool TRefresh::Fetch(const QString& address, const QString& suffix, const QString& file,
                     bool binaryData) {
    http_.BinaryData = binaryData;
    http_.FileName = file;
    http_.URL = AttemptUrl(address, suffix);
    // Neither a compressed nor a plain index may be larger than an index.
    http_.MaxSize = qint64(SafeFiles::MaxIndexSize);
    http_.StartAndWait(&stop_);
    // Sent from http to the same address under https: the server wants https,
    // so the rest of the source (and, through the window, every later
    // refresh) asks there at once.
    if (movedTo_.isEmpty())
        movedTo_ = HttpsAddress(address, http_.URL, http_.LastUrl());
    // A stopped source makes no further attempt and keeps its index.
    return !stop_.IsSet();
}

QString TRefresh::AnswerReason(TScratch scratch, const QString& file) const {
    const long status = http_.LastStatus();
    const bool statusOk = status / 100 == 2;
    if (!QFileInfo::exists(file))
        return http_.LastError().isEmpty() ? QStringLiteral("нет ответа") : http_.LastError();
    if (!statusOk)
        return HTTPGetRules::StatusText(status);
    if (scratch == TScratch::WebPage)
        return QStringLiteral("веб-страница вместо индекса");
    if (!http_.LastError().isEmpty())
        return http_.LastError();
    return QStringLiteral("ответ короче %1 байт").arg(MinScratchSize);
}

namespace {

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

QString TRefresh::GunzipIntoDownload(const QString& archive) {
    // The archive's stored name is accepted only as "download.txt" or
    // "Packages", and even then the output lands in a private folder first:
    // nothing else in the working folder can be replaced.
    QTemporaryDir unpack(workDir_ + QStringLiteral(".unpack-XXXXXX"));
    if (!unpack.isValid())
        return QStringLiteral("не удалось создать временную папку: %1").arg(unpack.errorString());
    TGUnZipThread worker(archive, unpack.path() + QLatin1Char('/'), false,
                         FileTools::DefaultBufferSize, QThread::NormalPriority,
                         {QStringLiteral("download.txt"), QStringLiteral("Packages")});
    worker.WaitFor();
    const FileTools::TGUnZipOutcome outcome = worker.Outcome();
    // A corrupt or cut-short archive keeps the previous index.
    if (outcome != FileTools::TGUnZipOutcome::Ok &&
        outcome != FileTools::TGUnZipOutcome::SetTimeFailed)
        return GunzipReason(outcome);
    const QString output = worker.Result().outputPath;
    if (!IsPlainFile(output) || !QFile::rename(output, Work(Download)))
        return QStringLiteral("распакованный индекс не записан");
    return {};
}

QString TRefresh::Unpack(TKind kind, const QString& archive) {
    QString reason;
    if (kind == TKind::Gzip) {
        reason = GunzipIntoDownload(archive);
    } else {
        const FileTools::TCompression compression =
            kind == TKind::Bzip2 ? FileTools::TCompression::Bzip2
            : kind == TKind::Xz  ? FileTools::TCompression::Xz
                                 : FileTools::TCompression::Zstd;
        const FileTools::TDecompressResult result =
            FileTools::UncompressFileOffThread(compression, archive, Work(Download));
        if (!result.Ok())
            reason = QStringLiteral("архив не распакован: %1").arg(result.Text());
    }
    QFile::remove(archive);
    return reason;
}

bool TRefresh::StartsAsArchive(TKind kind, const QString& path) {
    static constexpr std::string_view gzip("\x1f\x8b", 2), bzip2("BZh", 3),
        xz("\xfd"
           "7zXZ\0",
           6),
        zstd("\x28\xb5\x2f\xfd", 4);
    const std::string_view magic = kind == TKind::Gzip    ? gzip
                                   : kind == TKind::Bzip2 ? bzip2
                                   : kind == TKind::Xz    ? xz
                                                          : zstd;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(qint64(magic.size()));
    return std::string_view(head.constData(), std::size_t(head.size())) == magic;
}

// One attempt: Done is set when it decided the source (a new index, or a
// failure that ends the source); a web page lets the next attempt follow.
TOutcome TRefresh::TryArchive(const TAttempt& a, const QString& address, TAttemptLog& log,
                              bool& done) {
    if (!firstAttempt_)
        report_.Progress(0);
    firstAttempt_ = false;
    const QString file = Work(a.File);
    done = true;
    if (!Fetch(address, QLatin1String(a.Suffix), file, a.Archive)) {
        DeleteScratch();
        return log.Failure(a.Form, QStringLiteral("остановлено"));
    }
    TScratch scratch = CheckScratchFile(file);
    // An answer that does not even begin as the format asked for is no
    // archive of it (a text file served under the name, a page without "<"):
    // like a web page, it lets the next form be tried.
    if (scratch == TScratch::Data && a.Archive && !StartsAsArchive(a.Kind, file)) {
        QFile::remove(file);
        static const char* const formats[] = {"gzip", "bzip2", "xz", "zstd"};
        log.Add(a.Form, QStringLiteral("ответ не в формате %1")
                            .arg(QLatin1String(formats[static_cast<int>(a.Kind)])));
        done = false;
        return TOutcome::Success();
    }
    if (scratch == TScratch::Data) {
        const QString reason = a.Archive ? Unpack(a.Kind, file) : QString();
        if (reason.isEmpty())
            return TOutcome::Success();
        DeleteScratch();
        return log.Failure(a.Form, reason);
    }
    const QString reason = AnswerReason(scratch, file);
    if (scratch == TScratch::MissingOrShort) {
        DeleteScratch();
        return log.Failure(a.Form, reason);
    }
    QFile::remove(file);
    log.Add(a.Form, reason);
    done = false;
    return TOutcome::Success();
}

TOutcome TRefresh::GetRepo(const QString& address) {
    DeleteScratch();
    // The compressed forms before the plain index; the newer forms only when
    // even the plain index was a web page.
    static const TAttempt attempts[] = {
        {".gz", "download.txt.gz", ".gz", TKind::Gzip, true},
        {".bz2", "download.txt.bz2", ".bz2", TKind::Bzip2, true},
        {"", "download.txt", "без сжатия", TKind::Gzip, false},
        {".xz", "download.txt.xz", ".xz", TKind::Xz, true},
        {".zst", "download.txt.zst", ".zst", TKind::Zstd, true},
    };
    TAttemptLog log(address);
    firstAttempt_ = true;
    movedTo_.clear();
    for (const TAttempt& a : attempts) {
        bool done = false;
        TOutcome outcome = TryArchive(a, movedTo_.isEmpty() ? address : movedTo_, log, done);
        if (done)
            return outcome;
    }
    DeleteScratch();
    // Every form was a web page: the log already names each one.
    return log.Failure();
}
