// Times the decompressors on the benchmark corpus beside the command-line
// tools, same input, same run:
//   bench_decompress CORPUS
// CORPUS holds gz/ and bz2/ (make_corpus.py). Outputs go to a temporary folder.
// Ours decompresses each file into its own file, as the refresh does (whole
// or not at all, through a temporary file); the tool decompresses all files
// in one call into one file. Prints, last, "gzip/cli time ratio: R" and
// "bzip2/cli time ratio: R" (R = our time / the tool's time; best of a few runs
// each, alternating, since the machine is shared).

#include "archive/FileTools.h"

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

struct TPair {
    double ours = 1e300, oursCpu = 0; // best wall time and the CPU time of that run
    double tool = 1e300, toolCpu = 0;
    qint64 outBytes = 0;
};

// Ours: file I of a run decompresses into a folder of its own (as the
// refresh unpacks each source in a fresh folder, so no output replaces an
// earlier one); the folders are made before and removed after the timed part,
// as the tool's output file is.
TPair Compare(const char* label, const QString& tool, const QStringList& files,
              const QString& outDir,
              const std::function<bool(const QString&, const QString&, qint64&)>& ours) {
    TPair best;
    bool ok = true;
    for (int run = 0; run < Runs; ++run) {
        qint64 bytes = 0;
        double cpu = 0;
        QDir runDir(QDir(outDir).filePath("run"));
        QStringList folders;
        for (int i = 0; i < files.size(); ++i) {
            folders << runDir.filePath(QString::number(i));
            QDir().mkpath(folders.last());
        }
        const double wall = Seconds(
            [&] {
                for (int i = 0; i < files.size(); ++i)
                    if (!ours(files[i], folders[i], bytes))
                        return false;
                return true;
            },
            ok, RUSAGE_SELF, cpu);
        runDir.removeRecursively();
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

    const TPair g = Compare("gzip", "gzip", gz, outDir,
                            [&](const QString& f, const QString& dest, qint64& bytes) {
                                const auto r = FileTools::GUnZipFile(f, dest);
                                bytes += qint64(r.BytesWritten);
                                return r.Outcome == FileTools::TGUnZipOutcome::Ok;
                            });
    const TPair b = Compare(
        "bzip2", "bzip2", bz2, outDir, [&](const QString& f, const QString& dest, qint64& bytes) {
            const auto r = FileTools::UncompressFile(FileTools::TCompression::Bzip2, f,
                                                     QDir(dest).filePath("download.txt"));
            bytes += qint64(r.Written);
            return r.Ok();
        });
    std::printf("gzip/cli time ratio: %.2f\n", g.ours / g.tool);
    std::printf("bzip2/cli time ratio: %.2f\n", b.ours / b.tool);
    return 0;
}
