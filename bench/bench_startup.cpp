// Start-up to the saved catalogue in a fresh process, beside libapt's bare
// parse of the same indexes:
//   bench_startup CORPUS [APT_PARSE]
// CORPUS holds proc/, lists/ and archives/; nothing is written there. Each run
// starts this program again to build the catalogue from the indexes and save
// it into a temporary folder (what the first start does), and then the libapt
// parse (apt_tagfile_parse beside this program unless APT_PARSE names it) over
// the same index files. The two alternate, so a drift of the machine's speed
// touches both; the figures are medians of the runs. A later start, which
// reads the saved list instead, is timed too. A fresh process is the
// point: the memory the load touches is faulted in anew, as for the user.

#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"
#include "sources/IndexStore.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int Runs = 7;

struct TProcessFigures {
    double WallMs = 0;
    double CpuMs = 0;
    double SystemMs = 0;
    long Faults = 0;
    double PeakMb = 0;
};

double Ms(const timeval& t) {
    return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
}

// Starts Args as a process of its own and waits for it; false when it could not
// start or did not exit with 0.
bool RunProcess(const std::vector<std::string>& args, TProcessFigures& figures) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(failed));
        return false;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid, &status, 0, &usage) != pid)
        return false;
    figures.WallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    figures.CpuMs = Ms(usage.ru_utime) + Ms(usage.ru_stime);
    figures.SystemMs = Ms(usage.ru_stime);
    figures.Faults = usage.ru_minflt + usage.ru_majflt;
    figures.PeakMb = double(usage.ru_maxrss) / 1024.0;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The child's side: what the program does at its first start.
int LoadAndSave(const QString& corpus, const QString& cache) {
    const TPackageRows rows =
        LoadPackages(corpus + QStringLiteral("/proc"), corpus + QStringLiteral("/lists"),
                     corpus + QStringLiteral("/archives"));
    if (rows.empty() || !PackageList::SavePackageList(cache, rows))
        return 1;
    std::printf("%zu rows\n", rows.size());
    return 0;
}

// The child's side of a later start: the list saved by the first.
int LoadSaved(const QString& cache) {
    TPackageRows rows;
    std::vector<std::string> categories;
    if (PackageList::LoadPackageList(cache, {}, rows, categories) !=
            PackageList::TLoadResult::Complete ||
        rows.empty())
        return 1;
    std::printf("%zu rows, %zu categories\n", rows.size(), categories.size());
    return 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void PrintSide(const char* what, const std::vector<TProcessFigures>& runs) {
    std::vector<double> wall, cpu, system, faults, peak;
    for (const TProcessFigures& f : runs) {
        wall.push_back(f.WallMs);
        cpu.push_back(f.CpuMs);
        system.push_back(f.SystemMs);
        faults.push_back(double(f.Faults));
        peak.push_back(f.PeakMb);
    }
    std::printf("%s: %.1f ms (best %.1f), CPU %.1f ms, system %.1f ms, %.0f page faults, "
                "peak %.1f MB\n",
                what, Median(wall), *std::min_element(wall.begin(), wall.end()), Median(cpu),
                Median(system), Median(faults), Median(peak));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--saved") == 0)
        return LoadSaved(QString::fromLocal8Bit(argv[2]));
    if (argc == 4 && std::strcmp(argv[1], "--load") == 0)
        return LoadAndSave(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: bench_startup CORPUS [APT_PARSE]\n");
        return 2;
    }
    const std::string self =
        QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath().toStdString();
    const std::string apt = argc == 3 ? argv[2]
                                      : QFileInfo(QString::fromStdString(self))
                                            .absoluteDir()
                                            .filePath("apt_tagfile_parse")
                                            .toStdString();
    const QString corpus = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const std::vector<std::string> ours = {
        self, "--load", corpus.toStdString(),
        scratch.filePath(QStringLiteral("cache.txt")).toStdString()};
    std::vector<std::string> theirs = {apt};
    const QString proc = corpus + QStringLiteral("/proc");
    for (const QString& name : IndexStore::ListIndexFiles(proc))
        theirs.push_back((proc + QLatin1Char('/') + name).toStdString());

    const std::vector<std::string> saved = {self, "--saved", ours.back()};
    std::vector<TProcessFigures> oursRuns, theirRuns, savedRuns;
    std::vector<double> ratios;
    TProcessFigures warm;
    if (!RunProcess(ours, warm) || !RunProcess(theirs, warm)) {
        std::fprintf(stderr, "a side failed (is %s built?)\n", apt.c_str());
        return 1;
    }
    for (int run = 0; run < Runs; ++run) {
        TProcessFigures a, b;
        if (!RunProcess(ours, a) || !RunProcess(theirs, b)) {
            std::fprintf(stderr, "a side failed\n");
            return 1;
        }
        TProcessFigures c;
        if (!RunProcess(saved, c)) {
            std::fprintf(stderr, "the saved list did not load\n");
            return 1;
        }
        savedRuns.push_back(c);
        oursRuns.push_back(a);
        theirRuns.push_back(b);
        ratios.push_back(a.WallMs / b.WallMs);
    }
    std::printf("indexes: %zu files (medians of %d runs, each side a fresh process)\n",
                theirs.size() - 1, Runs);
    PrintSide("start-up to the saved catalogue", oursRuns);
    PrintSide("libapt bare parse", theirRuns);
    PrintSide("later start-up from the saved list", savedRuns);
    std::printf("startup/libapt time ratio: %.2f\n", Median(ratios));
    return 0;
}
