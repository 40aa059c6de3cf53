// Times the decompressors on the benchmark corpus beside the command-line
// tools, same input, same run:
//   bench_decompress CORPUS
// CORPUS holds gz/ and bz2/ (make_corpus.py). Outputs go to a temporary folder.
// Ours decompresses each file into its own file, replaced atomically (flushed
// to disk, as the refresh stores it); the tool decompresses all files in one
// call into one file. Prints, last, "gzip/cli time ratio: R" and
// "bzip2/cli time ratio: R" (R = our time / the tool's time; best of a few runs
// each, alternating, since the machine is shared).

#include "sources/FileTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

#include <sys/resource.h>

namespace {

constexpr int Runs = 5;

double CpuSeconds(int who) {
    rusage use{};
    ::getrusage(who, &use);
    auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(use.ru_utime) + s(use.ru_stime);
}

// Wall seconds of work; cpu gets the CPU seconds it took (of this process or
// of its children).
double Seconds(const std::function<bool()>& work, bool& ok, int who, double& cpu) {
    const double cpu0 = CpuSeconds(who);
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = CpuSeconds(who) - cpu0;
    return wall;
}

QStringList Files(const QString& folder) {
    QStringList out;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
        out << QDir(folder).filePath(name);
    return out;
}

qint64 TotalSize(const QStringList& files) {
    qint64 total = 0;
    for (const QString& f : files)
        total += QFileInfo(f).size();
    return total;
}

// The tool over all files in one process, output into one file.
bool RunTool(const QString& tool, const QStringList& files, const QString& outFile) {
    QProcess process;
    process.setStandardOutputFile(outFile, QIODevice::Truncate);
    process.start(tool, QStringList{"-dc"} + files);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

struct Pair {
    double ours = 1e300, oursCpu = 0; // best wall time and the CPU time of that run
    double tool = 1e300, toolCpu = 0;
    qint64 outBytes = 0;
};

Pair Compare(const char* label, const QString& tool, const QStringList& files,
             const QString& outDir, const std::function<bool(const QString&, qint64&)>& ours) {
    Pair best;
    bool ok = true;
    for (int run = 0; run < Runs; ++run) {
        qint64 bytes = 0;
        double cpu = 0;
        const double wall = Seconds(
            [&] {
                for (const QString& f : files)
                    if (!ours(f, bytes))
                        return false;
                return true;
            },
            ok, RUSAGE_SELF, cpu);
        if (wall < best.ours) {
            best.ours = wall;
            best.oursCpu = cpu;
        }
        best.outBytes = bytes;
        const QString toolOut = QDir(outDir).filePath("cli.out");
        const double toolWall =
            Seconds([&] { return RunTool(tool, files, toolOut); }, ok, RUSAGE_CHILDREN, cpu);
        if (toolWall < best.tool) {
            best.tool = toolWall;
            best.toolCpu = cpu;
        }
        QFile::remove(toolOut);
    }
    const double mb = double(best.outBytes) / 1e6;
    std::printf("%-6s %2lld files, %5.1f MB in, %5.1f MB out: ours %.3f s (%.0f MB/s, CPU %.3f s), "
                "%s -dc %.3f s (%.0f MB/s, CPU %.3f s)%s\n",
                label, static_cast<long long>(files.size()), double(TotalSize(files)) / 1e6, mb,
                best.ours, mb / best.ours, best.oursCpu, qPrintable(tool), best.tool,
                mb / best.tool, best.toolCpu, ok ? "" : "  [FAILURES]");
    std::fflush(stdout);
    return best;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_decompress CORPUS (from make_corpus.py)\n");
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const QStringList gz = Files(QDir(corpus).filePath("gz"));
    const QStringList bz2 = Files(QDir(corpus).filePath("bz2"));
    if (gz.isEmpty() || bz2.isEmpty()) {
        std::fprintf(stderr, "%s holds no gz/ or bz2/ files\n", argv[1]);
        return 2;
    }
    QTemporaryDir tmp(QDir::tempPath() + "/bench_decompress.XXXXXX");
    const QString outDir = tmp.path();

    const Pair g = Compare("gzip", "gzip", gz, outDir, [&](const QString& f, qint64& bytes) {
        const auto r = FileTools::GUnZipFile(f, outDir);
        bytes += qint64(r.bytesWritten);
        return r.outcome == FileTools::TGUnZipOutcome::Ok;
    });
    const Pair b = Compare("bzip2", "bzip2", bz2, outDir, [&](const QString& f, qint64& bytes) {
        const auto r = FileTools::DoUncompress(f, QDir(outDir).filePath("download.txt"));
        bytes += qint64(r.written);
        return r.Ok();
    });
    std::printf("gzip/cli time ratio: %.2f\n", g.ours / g.tool);
    std::printf("bzip2/cli time ratio: %.2f\n", b.ours / b.tool);
    return 0;
}
