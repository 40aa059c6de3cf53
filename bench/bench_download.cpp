// Timing of the package download beside the curl command-line tool.
//
//     bench_download CORPUS [COUNT]
//
// CORPUS is the output of make_corpus.py (proc/, lists/, archives/). Its
// catalogue is loaded and saved as the window does, COUNT (200) rows spread
// over the list are marked, and each gets a package file of 20 KB to 500 KB
// served by the local test server. The indexes are learned as the window
// has them learned after a load. The download walk then runs as the button
// runs it: the details of every row read again from its index, the transfer,
// the size and SHA256 check, the store into the cache, the state written into
// the saved list. The same files are then fetched by curl, one process per
// file as a script would, and by one curl process fetching four at a time
// over its kept connections ("--parallel --parallel-max 4"). All in one run
// against the same server; the last lines are "download/curl time ratio: R"
// and "download/curl-parallel time ratio: R" (our time / curl's). The
// processor time of our run and of the parallel curl's is printed too.
#include "base/LongOperation.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"
#include "net/HTTPGet.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Processor time (user + system) so far of this process (the local server's
// threads included) and of its ended children (curl): on a busy machine it
// says more than the wall time.
double ProcessorSeconds(int who) {
    struct rusage usage {};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double ProcessorSeconds() {
    return ProcessorSeconds(RUSAGE_SELF) + ProcessorSeconds(RUSAGE_CHILDREN);
}

struct TPackageFile {
    std::string Path; // on the server
    std::string Body;
    std::string Sha256;
};

// The window's list and details, without widgets: the details come from the
// real scan of the row's index; only the address, size and hash are those of
// the file the server has for the row (the corpus's own addresses lead
// nowhere).
class TBenchView : public TDownloadView {
public:
    TBenchView(TPackageRows& rows, QString procDir, const TTestHttpServer& server,
               const std::vector<TPackageFile>& files, std::vector<int>& fileOfRow)
        : rows_(rows), procDir_(std::move(procDir)), server_(server), files_(files),
          fileOfRow_(fileOfRow) {}

    int RowCount() const override { return static_cast<int>(rows_.size()); }
    bool IsMarked(int row) const override { return rows_[std::size_t(row)].Marked; }
    TPackageKey KeyOf(int row) const override { return TPackageKey::Of(rows_[std::size_t(row)]); }
    void ShowRow(int) override {}
    bool Describe(int row, TShownPackage& shown) override {
        TDebianInfo info;
        info.Package = rows_[std::size_t(row)].Package();
        info.IndexFile = rows_[std::size_t(row)].IndexFile();
        const auto start = std::chrono::steady_clock::now();
        FindPackage(info, procDir_, TPackageKey::Of(rows_[std::size_t(row)]));
        DetailsTime += Seconds(std::chrono::steady_clock::now() - start);
        const TPackageFile& file = files_[std::size_t(fileOfRow_[std::size_t(row)])];
        shown.Address = server_.Url(file.Path);
        shown.SizeText = std::to_string(file.Body.size());
        shown.Sha256 = file.Sha256;
        // Corpus names may repeat across sources; each file gets its own.
        shown.LocalName = "bench" + std::to_string(fileOfRow_[std::size_t(row)]) + "_" +
                          (info.LocalName.empty() ? "x.deb" : info.LocalName);
        return true;
    }
    void SetMarked(int row, bool marked) override { rows_[std::size_t(row)].Marked = marked; }
    void SetState(int row, int state) override { rows_[std::size_t(row)].State = state; }
    bool PutDebs() const override { return false; }
    bool PutAutoInstall() const override { return false; }
    TOutcome PhonePut(const QString&, const std::string&) override { return TOutcome::Failure({}); }
    void Warn(const QString&) override {}

    double DetailsTime = 0; // the scans of the rows' indexes

private:
    TPackageRows& rows_;
    QString procDir_;
    const TTestHttpServer& server_;
    const std::vector<TPackageFile>& files_;
    std::vector<int>& fileOfRow_;
};

class TNullReport : public TOperationReport {
public:
    void Busy(bool) override {}
    void Progress(int) override {}
};

bool RunCurl(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool CopyFolder(const QString& from, const QString& to) {
    if (!QDir().mkpath(to))
        return false;
    for (const QString& name : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(from + "/" + name, to + "/" + name))
            return false;
    return true;
}

struct TCurlFigures {
    int Fetched = 0;
    double Seconds = 0;
    int ParallelFetched = 0; // 0 when the parallel run failed
    double Parallel = 0, ParallelCpu = 0;
};

// The same files fetched by curl: one process per file as a script would,
// then one process fetching four at a time (its list of files is written
// before the clock starts).
TCurlFigures TimeCurl(const QString& work, const TTestHttpServer& server,
                      const std::vector<TPackageFile>& files) {
    TCurlFigures figures;
    const int count = static_cast<int>(files.size());
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i)
        figures.Fetched += RunCurl({"curl", "-s", "-f", "--noproxy", "*", "-o",
                                    (work + "curl/p" + QString::number(i) + ".deb").toStdString(),
                                    server.Url(files[std::size_t(i)].Path)});
    figures.Seconds = Seconds(std::chrono::steady_clock::now() - t0);

    QDir().mkpath(work + "parallel");
    const QString config = work + "parallel.conf";
    QFile list(config);
    if (!list.open(QIODevice::WriteOnly))
        return figures;
    for (int i = 0; i < count; ++i)
        list.write(QByteArray::fromStdString(
            "url = \"" + server.Url(files[std::size_t(i)].Path) + "\"\noutput = \"" +
            (work + "parallel/p" + QString::number(i) + ".deb").toStdString() + "\"\n"));
    list.close();
    const double cpu0 = ProcessorSeconds();
    t0 = std::chrono::steady_clock::now();
    const bool ok = RunCurl({"curl", "-s", "-f", "--noproxy", "*", "--parallel", "--parallel-max",
                             "4", "-K", config.toStdString()});
    figures.Parallel = Seconds(std::chrono::steady_clock::now() - t0);
    figures.ParallelCpu = ProcessorSeconds() - cpu0;
    for (int i = 0; ok && i < count; ++i)
        figures.ParallelFetched +=
            QFileInfo(work + "parallel/p" + QString::number(i) + ".deb").size() ==
            qint64(files[std::size_t(i)].Body.size());
    return figures;
}

// Count package files of random bytes and sizes served by Server, each for a
// row of the list, spread evenly over it; the rows are marked.
std::vector<TPackageFile> MakeFiles(int count, TTestHttpServer& server, TPackageRows& rows,
                                    std::vector<int>& fileOfRow) {
    std::mt19937 random(20261);
    std::uniform_int_distribution<std::size_t> size(20 * 1024, 500 * 1024);
    std::vector<TPackageFile> files(static_cast<std::size_t>(count));
    const std::size_t step = rows.size() / std::size_t(count);
    for (int i = 0; i < count; ++i) {
        TPackageFile& p = files[std::size_t(i)];
        p.Path = "/pool/p" + std::to_string(i) + ".deb";
        p.Body.resize(size(random));
        for (char& c : p.Body)
            c = static_cast<char>(random());
        p.Sha256 =
            QCryptographicHash::hash(QByteArray::fromStdString(p.Body), QCryptographicHash::Sha256)
                .toHex()
                .toStdString();
        server.Serve(p.Path, p.Body);
        const std::size_t row = std::size_t(i) * step;
        rows[row].Marked = true;
        fileOfRow[row] = i;
    }
    return files;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_download CORPUS [COUNT]\n");
        return 2;
    }
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;

    QTemporaryDir tmp;
    const QString work = tmp.path() + "/";
    const QString proc = work + "proc/", lists = work + "lists/", archives = work + "archives/";
    for (const char* sub : {"proc", "lists", "archives"})
        if (!CopyFolder(corpus + "/" + sub, work + sub)) {
            std::fprintf(stderr, "cannot copy %s from %s\n", sub, qPrintable(corpus));
            return 1;
        }
    QDir().mkpath(work + "curl");

    auto t0 = std::chrono::steady_clock::now();
    TPackageRows rows = LoadPackages(proc, lists, archives);
    const QString cacheFile = proc + QLatin1String(PackageList::FileName);
    PackageList::SavePackageList(cacheFile, rows);
    std::printf("catalogue: %zu rows loaded and saved in %.3f s\n", rows.size(),
                Seconds(std::chrono::steady_clock::now() - t0));
    // The window has a worker read the indexes once right after a load, long
    // before anyone has marked 200 packages.
    t0 = std::chrono::steady_clock::now();
    LearnIndexes(proc);
    std::printf("indexes learned in %.3f s\n", Seconds(std::chrono::steady_clock::now() - t0));
    if (rows.size() < std::size_t(count) || count <= 0)
        return 1;

    TTestHttpServer server;
    std::vector<int> fileOfRow(rows.size(), -1);
    const std::vector<TPackageFile> files = MakeFiles(count, server, rows, fileOfRow);
    std::uint64_t totalBytes = 0;
    for (const TPackageFile& file : files)
        totalBytes += file.Body.size();
    std::printf("files: %d, %.1f MB\n", count, double(totalBytes) / 1e6);

    // Ours: the walk as the download button runs it.
    TBenchView view(rows, proc, server, files, fileOfRow);
    THTTPGet http;
    TStopFlag stop;
    TNullReport report;
    TPackageDownload download(view, http, report, stop, {work, archives, cacheFile});
    const double cpu0 = ProcessorSeconds();
    t0 = std::chrono::steady_clock::now();
    download.Run();
    const double ours = Seconds(std::chrono::steady_clock::now() - t0);
    const double oursCpu = ProcessorSeconds() - cpu0;
    int stored = 0;
    for (std::size_t row = 0; row < rows.size(); ++row)
        stored += fileOfRow[row] >= 0 && !rows[row].Marked && rows[row].State == StateDownloaded;

    const TCurlFigures curl = TimeCurl(work, server, files);
    std::printf("download: %d of %d stored in %.3f s (%.1f ms per package)\n", stored, count, ours,
                ours * 1000 / count);
    std::printf("  of which details lookups: %.3f s; processor time %.3f s\n", view.DetailsTime,
                oursCpu);
    std::printf("curl: %d of %d fetched in %.3f s (%.1f ms per file)\n", curl.Fetched, count,
                curl.Seconds, curl.Seconds * 1000 / count);
    std::printf("curl --parallel-max 4: %d of %d fetched in %.3f s (%.1f ms per file)\n",
                curl.ParallelFetched, count, curl.Parallel, curl.Parallel * 1000 / count);
    std::printf("  processor time %.3f s (curl and the server)\n", curl.ParallelCpu);
    if (stored != count || curl.Fetched != count || curl.ParallelFetched != count)
        std::printf("warning: not every file arrived\n");
    std::printf("download/curl time ratio: %.2f\n", ours / curl.Seconds);
    std::printf("download/curl-parallel time ratio: %.2f\n", ours / curl.Parallel);
    return 0;
}
