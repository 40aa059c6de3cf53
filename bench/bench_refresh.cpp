// Times the refresh's network side against the local test server:
//   bench_refresh [CORPUS]
// 1. A 100 MB transfer through THTTPGet beside the same transfer by the curl
//    command-line tool (wall time, MB/s, CPU seconds of each; best of a few
//    runs, alternating, since the machine is shared).
// 2. With CORPUS (make_corpus.py output, gz/ and bz2/ folders), a full
//    refresh of every source of the corpus (30 by default) from the server,
//    each source's ".gz" served, decompressed and stored.
// 3. With CORPUS, the same refresh from servers that answer each request
//    100 ms late, one server per source as real repositories are, beside
//    the slowest of the sources refreshed alone. The last line is
//    "refresh/slowest-source time ratio: R" (the whole refresh over the
//    slowest single source).
// Decompression of the corpus beside gzip -dc / bzip2 -dc is timed by
// bench_decompress; further cases go into the Cases section below, each a
// function printing its own lines. The line "transfer/curl time ratio: R"
// (R = our time / curl's time) comes before the refresh ratio.
//
// The server runs in a child process so that this process's CPU time is the
// client's alone.

#include "base/LongOperation.h"
#include "net/HTTPGet.h"
#include "sources/Refresh.h"
#include "support/TestHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int Runs = 3;
constexpr std::size_t TransferBytes = 100u * 1000u * 1000u;
constexpr int SlowAnswerMs = 100;

double CpuSeconds(int who) {
    rusage use{};
    ::getrusage(who, &use);
    auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(use.ru_utime) + s(use.ru_stime);
}

struct TTiming {
    double Wall = 1e9;
    double Cpu = 0;
};

// Runs work, keeping the fastest of the runs so far.
void Time(TTiming& best, int who, const std::function<bool()>& work, bool& ok) {
    const double cpu0 = CpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds(who) - cpu0;
    if (wall < best.Wall)
        best = {wall, cpu};
}

// ---- the server child ----

struct TCorpus {
    QStringList Names; // index names of proc/
    QString GzFolder;
};

// Paths the child serves: "/big" (TransferBytes) and, per corpus index NAME,
// "/NAME/Packages.gz" with the corpus's NAME.gz.
[[noreturn]] void ServeInChild(int portPipe, int stopPipe, const TCorpus& corpus) {
    {
        TTestHttpServer server;
        std::string big(TransferBytes, '\0');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>((i * 2654435761u) >> 13);
        server.Serve("/big", std::move(big));
        server.ServeSilent("/silent");
        for (const QString& name : corpus.Names) {
            QFile gz(corpus.GzFolder + QLatin1Char('/') + name + QStringLiteral(".gz"));
            if (gz.open(QIODevice::ReadOnly))
                server.Serve("/" + name.toStdString() + "/Packages.gz", gz.readAll().toStdString());
        }
        // One late server per source.
        std::vector<std::unique_ptr<TTestHttpServer>> late;
        std::vector<int> ports{server.Port()};
        for (const QString& name : corpus.Names) {
            late.push_back(std::make_unique<TTestHttpServer>());
            late.back()->SetAnswerDelay(SlowAnswerMs);
            QFile gz(corpus.GzFolder + QLatin1Char('/') + name + QStringLiteral(".gz"));
            if (gz.open(QIODevice::ReadOnly))
                late.back()->Serve("/" + name.toStdString() + "/Packages.gz",
                                   gz.readAll().toStdString());
            ports.push_back(late.back()->Port());
        }
        (void)!::write(portPipe, ports.data(), ports.size() * sizeof(int));
        char byte;
        while (::read(stopPipe, &byte, 1) > 0) {
        }
    }
    ::_exit(0);
}

// ---- Cases ----

// A transfer that waits on a server which never answers, stopped after two
// seconds: the processor time of the whole process (window thread and
// transfer worker) over that wait, which should be next to nothing.
void BenchIdleWait(int port) {
    THTTPGet http;
    http.URL = QStringLiteral("http://127.0.0.1:%1/silent").arg(port);
    http.FileName = QDir::tempPath() + QStringLiteral("/orvia-idle-wait.bin");
    QTimer::singleShot(2000, [&http] { http.Stop(); });
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    http.StartAndWait();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    std::printf("idle wait: %.2f s, CPU %.4f s (%.2f %%)\n", wall, cpu, 100.0 * cpu / wall);
    QFile::remove(http.FileName);
}

void BenchTransfer(int port, const QString& dir, double& ratio) {
    const QString url = QStringLiteral("http://127.0.0.1:%1/big").arg(port);
    const QString target = dir + QStringLiteral("/big.bin");
    TTiming ours, curl;
    bool ok = true;
    for (int run = 0; run < Runs; ++run) {
        Time(
            ours, RUSAGE_SELF,
            [&] {
                THTTPGet http;
                http.URL = url;
                http.FileName = target;
                http.BinaryData = true;
                return http.StartAndWait() && QFileInfo(target).size() == qint64(TransferBytes);
            },
            ok);
        QFile::remove(target);
        Time(
            curl, RUSAGE_CHILDREN,
            [&] {
                return QProcess::execute(QStringLiteral("curl"),
                                         {QStringLiteral("-s"), QStringLiteral("-f"),
                                          QStringLiteral("-o"), target, url}) == 0 &&
                       QFileInfo(target).size() == qint64(TransferBytes);
            },
            ok);
        QFile::remove(target);
    }
    const double mb = double(TransferBytes) / 1e6;
    std::printf("transfer %.0f MB  THTTPGet: %.3f s, %.0f MB/s, CPU %.3f s (%.2f ms/MB)\n", mb,
                ours.Wall, mb / ours.Wall, ours.Cpu, 1000 * ours.Cpu / mb);
    std::printf("transfer %.0f MB  curl:     %.3f s, %.0f MB/s, CPU %.3f s (%.2f ms/MB)\n", mb,
                curl.Wall, mb / curl.Wall, curl.Cpu, 1000 * curl.Cpu / mb);
    std::printf("transfer CPU per MB, ours / curl: %.2f\n", ours.Cpu / std::max(curl.Cpu, 1e-6));
    if (!ok)
        std::printf("transfer: A TRANSFER FAILED\n");
    ratio = ours.Wall / curl.Wall;
}

// A full refresh of every corpus source; RefreshBench (in the Refresh
// section) does the work.
void BenchFullRefresh(int port, const TCorpus& corpus, const QString& dir);

} // namespace

// ---- full refresh ----

namespace {

class TNullView : public TOperationReport {
public:
    void Busy(bool) override {}
    void Progress(int) override {}
};

void BenchFullRefresh(int port, const TCorpus& corpus, const QString& dir) {
    TTiming best;
    bool ok = true;
    qint64 stored = 0;
    for (int run = 0; run < Runs; ++run) {
        QDir(dir).removeRecursively();
        QDir().mkpath(dir + QStringLiteral("/proc"));
        std::vector<TSourceEntry> sources;
        for (const QString& name : corpus.Names)
            sources.push_back(
                {QStringLiteral("http://127.0.0.1:%1/%2/Packages").arg(port).arg(name), true});
        Time(
            best, RUSAGE_SELF,
            [&] {
                THTTPGet http;
                http.BinaryData = false;
                TStopFlag stop;
                TNullView view;
                TRefresh refresh(http, stop, dir + QStringLiteral("/"),
                                 dir + QStringLiteral("/proc/"), view);
                const int n = refresh.Walk(sources);
                stored = 0;
                for (const QFileInfo& f :
                     QDir(dir + QStringLiteral("/proc")).entryInfoList(QDir::Files))
                    stored += f.size();
                return n == int(sources.size());
            },
            ok);
    }
    std::printf("full refresh of %d sources: %.3f s, CPU %.3f s, %.1f MB stored%s\n",
                int(corpus.Names.size()), best.Wall, best.Cpu, double(stored) / 1e6,
                ok ? "" : "  (A SOURCE FAILED)");
}

// One walk of Sources in a fresh folder: its wall time, or -1 when a source
// failed.
double TimedWalk(const std::vector<TSourceEntry>& sources, const QString& dir) {
    QDir(dir).removeRecursively();
    QDir().mkpath(dir + QStringLiteral("/proc"));
    THTTPGet http;
    TStopFlag stop;
    TNullView view;
    TRefresh refresh(http, stop, dir + QStringLiteral("/"), dir + QStringLiteral("/proc/"), view);
    const auto start = std::chrono::steady_clock::now();
    const int n = refresh.Walk(sources);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return n == int(sources.size()) ? wall : -1;
}

// The refresh from the late servers over the slowest source alone.
double BenchLateRefresh(const std::vector<int>& ports, const TCorpus& corpus, const QString& dir) {
    std::vector<TSourceEntry> sources;
    for (qsizetype i = 0; i < corpus.Names.size(); ++i)
        sources.push_back({QStringLiteral("http://127.0.0.1:%1/%2/Packages")
                               .arg(ports[std::size_t(i) + 1])
                               .arg(corpus.Names[i]),
                           true});
    double slowest = 0;
    for (const TSourceEntry& source : sources)
        slowest = std::max(slowest, TimedWalk({source}, dir));
    double whole = 1e9;
    for (int run = 0; run < Runs; ++run) {
        const double wall = TimedWalk(sources, dir);
        whole = std::min(whole, wall < 0 ? 1e9 : wall);
    }
    std::printf("refresh of %d sources, each answer %d ms late: %.3f s; slowest source alone: "
                "%.3f s%s\n",
                int(sources.size()), SlowAnswerMs, whole, slowest,
                whole >= 1e9 || slowest < 0 ? "  (A SOURCE FAILED)" : "");
    return slowest > 0 ? whole / slowest : 0;
}

} // namespace

int main(int argc, char** argv) {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        ::unsetenv(name);
    TCorpus corpus;
    if (argc > 1) {
        const QString root = QString::fromLocal8Bit(argv[1]);
        corpus.GzFolder = root + QStringLiteral("/gz");
        for (const QString& name :
             QDir(root + QStringLiteral("/proc")).entryList(QDir::Files, QDir::Name))
            if (name.endsWith(QLatin1String("Packages"), Qt::CaseInsensitive))
                corpus.Names << name;
    }

    // The server child is forked before any thread of this process exists.
    int portPipe[2], stopPipe[2];
    if (::pipe(portPipe) != 0 || ::pipe(stopPipe) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(portPipe[0]);
        ::close(stopPipe[1]);
        ServeInChild(portPipe[1], stopPipe[0], corpus);
    }
    ::close(portPipe[1]);
    ::close(stopPipe[0]);
    std::vector<int> ports(std::size_t(corpus.Names.size()) + 1);
    const auto portBytes = ssize_t(ports.size() * sizeof(int));
    for (ssize_t got = 0, n = 0; got < portBytes; got += n)
        if ((n = ::read(portPipe[0], reinterpret_cast<char*>(ports.data()) + got,
                        std::size_t(portBytes - got))) <= 0)
            return 1;
    const int port = ports[0];

    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    double transferRatio = 0;
    BenchIdleWait(port);
    BenchTransfer(port, tmp.path(), transferRatio);
    double refreshRatio = 0;
    if (!corpus.Names.isEmpty()) {
        BenchFullRefresh(port, corpus, tmp.path() + QStringLiteral("/work"));
        refreshRatio = BenchLateRefresh(ports, corpus, tmp.path() + QStringLiteral("/late"));
    }

    ::close(stopPipe[1]);
    ::waitpid(child, nullptr, 0);
    std::printf("transfer/curl time ratio: %.2f\n", transferRatio);
    if (refreshRatio > 0)
        std::printf("refresh/slowest-source time ratio: %.2f\n", refreshRatio);
    return 0;
}
