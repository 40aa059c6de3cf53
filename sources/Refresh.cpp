#include "sources/Refresh.h"

#include "app/LongOperation.h"
#include "app/SafeFiles.h"
#include "sources/FileTools.h"
#include "sources/HTTPGet.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

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
                   TRefreshView& view, QString listsDir)
    : http_(http), stop_(stop), workDir_(std::move(workDir)), procDir_(std::move(procDir)),
      view_(view), listsDir_(std::move(listsDir)) {}

// ---- the scratch file check ----

TRefresh::TScratch TRefresh::CheckScratchBytes(std::string_view bytes) {
    if (bytes.size() < std::size_t(MinScratchSize))
        return TScratch::MissingOrShort;
    const std::size_t first = FirstNonLineEnd(bytes);
    return first != std::string_view::npos && bytes[first] == '<' ? TScratch::WebPage
                                                                  : TScratch::Data;
}

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

QString TRefresh::AttemptUrl(const QString& address, const QString& suffix) {
    QString url = address + suffix;
    url.remove(QStringLiteral("./"));
    return url;
}

// ---- the walk ----

int TRefresh::Walk(const std::vector<SourceEntry>& sources) {
    if (sources.empty())
        return 0;
    view_.BeginWalk();
    int stored = 0;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        view_.SelectEntry(int(i));
        if (sources[i].Checked && GetRepo(sources[i].Text) && StoreIndex(sources[i].Text))
            ++stored;
        if (stop_.IsSet())
            break;
    }
    view_.EndWalk();
    return stored;
}

bool TRefresh::StoreIndex(const QString& address) {
    const QString source = Work(Download);
    const QString name = IndexStore::AddressToIndexName(address);
    bool ok = IsPlainFile(source) && QFileInfo(source).size() <= qint64(SafeFiles::MaxIndexSize) &&
              SafeFiles::IsPlainFileName(name.toStdString());
    QFile in(source);
    if (ok)
        ok = in.open(QIODevice::ReadOnly);
    if (ok) {
        SafeFiles::TAtomicFile out(procDir_ + name);
        ok = out.Open();
        std::vector<char> block(static_cast<std::size_t>(CopyBlock));
        while (ok) {
            const qint64 n = in.read(block.data(), CopyBlock);
            if (n <= 0) {
                ok = n == 0 && out.Written() <= SafeFiles::MaxIndexSize && out.Commit();
                break;
            }
            ok = out.Write(block.data(), std::size_t(n));
        }
    }
    in.close();
    QFile::remove(source);
    if (ok)
        IndexStore::RetireAliases(procDir_, listsDir_, name);
    return ok;
}

// ---- one source ----

void TRefresh::DeleteScratch() const {
    for (const char* const* name = ScratchFiles; *name; ++name)
        QFile::remove(Work(*name));
}

bool TRefresh::GiveUp() const {
    DeleteScratch();
    return false;
}

bool TRefresh::Fetch(const QString& address, const QString& suffix, const QString& file,
                     bool binaryData) {
    http_.BinaryData = binaryData;
    http_.FileName = file;
    http_.URL = AttemptUrl(address, suffix);
    http_.StartAndWait(&stop_);
    // A stopped source makes no further attempt and keeps its index.
    return !stop_.IsSet();
}

bool TRefresh::GunzipIntoDownload(const QString& archive) {
    // The archive's stored name is accepted only as "download.txt" or
    // "Packages", and even then the output lands in a private folder first:
    // nothing else in the working folder can be replaced.
    QTemporaryDir unpack(workDir_ + QStringLiteral(".unpack-XXXXXX"));
    if (!unpack.isValid())
        return false;
    TGUnZipThread worker(archive, unpack.path() + QLatin1Char('/'), false,
                         FileTools::DefaultBufferSize, QThread::NormalPriority,
                         {QStringLiteral("download.txt"), QStringLiteral("Packages")});
    worker.WaitFor();
    const FileTools::TGUnZipOutcome outcome = worker.Outcome();
    // A corrupt or cut-short archive keeps the previous index.
    if (outcome != FileTools::TGUnZipOutcome::Ok &&
        outcome != FileTools::TGUnZipOutcome::SetTimeFailed)
        return false;
    const QString output = worker.Result().outputPath;
    return IsPlainFile(output) && QFile::rename(output, Work(Download));
}

bool TRefresh::Unpack(TKind kind, const QString& archive) {
    bool ok = false;
    if (kind == TKind::Gzip) {
        ok = GunzipIntoDownload(archive);
    } else {
        const FileTools::TCompression compression =
            kind == TKind::Bzip2 ? FileTools::TCompression::Bzip2
            : kind == TKind::Xz  ? FileTools::TCompression::Xz
                                 : FileTools::TCompression::Zstd;
        ok = FileTools::UncompressFileOffThread(compression, archive, Work(Download)).Ok();
    }
    QFile::remove(archive);
    return ok || GiveUp();
}

bool TRefresh::GetRepo(const QString& address) {
    DeleteScratch();

    struct Attempt {
        const char* suffix;
        const char* file;
        TKind kind;
    };
    // The compressed forms before the plain index; the newer forms only when
    // even the plain index was a web page.
    const Attempt before[] = {{".gz", "download.txt.gz", TKind::Gzip},
                              {".bz2", "download.txt.bz2", TKind::Bzip2}};
    const Attempt after[] = {{".xz", "download.txt.xz", TKind::Xz},
                             {".zst", "download.txt.zst", TKind::Zstd}};

    bool first = true;
    auto tryArchive = [&](const Attempt& a, bool& done) {
        if (!first)
            view_.ShowProgress(0);
        first = false;
        const QString file = Work(a.file);
        done = true;
        if (!Fetch(address, QLatin1String(a.suffix), file, true))
            return GiveUp();
        switch (CheckScratchFile(file)) {
        case TScratch::MissingOrShort:
            return GiveUp();
        case TScratch::Data:
            return Unpack(a.kind, file);
        case TScratch::WebPage:
            break;
        }
        QFile::remove(file);
        done = false;
        return false;
    };

    bool done = false;
    for (const Attempt& a : before) {
        const bool result = tryArchive(a, done);
        if (done)
            return result;
    }

    view_.ShowProgress(0);
    const QString plain = Work(Download);
    if (!Fetch(address, QString(), plain, false))
        return GiveUp();
    switch (CheckScratchFile(plain)) {
    case TScratch::MissingOrShort:
        return GiveUp();
    case TScratch::Data:
        return QFileInfo(plain).size() <= qint64(SafeFiles::MaxIndexSize) || GiveUp();
    case TScratch::WebPage:
        break;
    }
    QFile::remove(plain);

    for (const Attempt& a : after) {
        const bool result = tryArchive(a, done);
        if (done)
            return result;
    }
    return GiveUp();
}
