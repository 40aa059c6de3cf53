#include "sources/Refresh.h"

#include "base/LongOperation.h"
#include "net/HTTPGet.h"
#include "sources/IndexStore.h"
#include "sources/RefreshFetch.h"
#include "sources/SourceAddress.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <vector>

namespace {

constexpr qint64 MinScratchSize = 128;

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

// ---- the walk ----

int TRefresh::Walk(const std::vector<TSourceEntry>& sources) {
    outcomes_.clear();
    if (sources.empty())
        return 0;
    report_.Busy(true);
    RemoveScratch();
    TValidatorStore validators(procDir_);
    int stored = 0;
    {
        // The checked sources are fetched side by side; each is taken over
        // (and stored) when its turn in the list comes.
        TRefreshFetcher fetcher(Request(), workDir_, procDir_, &validators);
        for (std::size_t i = 0; i < sources.size(); ++i)
            if (sources[i].Checked)
                fetcher.Add(int(i), sources[i].Text);
        for (std::size_t i = 0; i < sources.size(); ++i) {
            report_.ItemStarted(int(i));
            if (sources[i].Checked) {
                const QString& address = sources[i].Text;
                TFetchedIndex& fetched = Fetch(fetcher, int(i));
                TOutcome outcome = Keep(address, fetched, validators);
                if (outcome)
                    ++stored;
                else if (!stop_.IsSet())
                    ReportToStderr(outcome.Reason);
                outcomes_.push_back({int(i), address, std::move(outcome), fetched.MovedTo});
            }
            if (stop_.IsSet())
                break;
        }
    } // the indexes prepared for sources not reached go with the fetcher
    // Without them the next refresh only fetches every index whole.
    if (const TOutcome saved = validators.Save(); !saved)
        ReportToStderr(saved.Reason);
    report_.Busy(false);
    return stored;
}

TOutcome TRefresh::Keep(const QString& address, TFetchedIndex& fetched,
                        TValidatorStore& validators) {
    if (!fetched.Outcome || fetched.Unchanged)
        return fetched.Outcome;
    if (!fetched.Prepared->Commit())
        return TOutcome::Failure(address + QStringLiteral(" — индекс не записан: ") +
                                 fetched.Prepared->ErrorString());
    const QString name = IndexStore::AddressToIndexName(address);
    IndexStore::RetireAliases(procDir_, listsDir_, name);
    validators.Record(name, fetched.Validators);
    return TOutcome::Success();
}

// ---- one source ----

THTTPRequest TRefresh::Request() const {
    const auto bytes = [](const QString& text) { return text.toUtf8().toStdString(); };
    THTTPRequest r;
    r.AcceptTypes = bytes(http_.AcceptTypes);
    r.Agent = bytes(http_.Agent);
    r.UserName = bytes(http_.UserName);
    r.Password = bytes(http_.Password);
    r.Referer = bytes(http_.Referer);
    r.UseCache = http_.UseCache;
    r.Timeout = http_.Timeout;
    r.MinSpeed = http_.MinSpeed;
    return r;
}

void TRefresh::RemoveScratch() const {
    // The scratch names a refresh killed midway may have left.
    for (const char* name : {"download.txt", "download.txt.gz", "download.txt.bz2",
                             "download.txt.xz", "download.txt.zst"})
        QFile::remove(Work(name));
}

TFetchedIndex& TRefresh::Fetch(TRefreshFetcher& fetcher, int key) {
    // A Stop press ends every transfer at once, not only the one shown.
    const QMetaObject::Connection stop =
        QObject::connect(&stop_, &TStopFlag::raised, [&fetcher] { fetcher.StopAll(); });
    if (stop_.IsSet())
        fetcher.StopAll();
    TFetchedIndex& fetched = fetcher.Wait(key, [this](int percent) { report_.Progress(percent); });
    QObject::disconnect(stop);
    return fetched;
}
