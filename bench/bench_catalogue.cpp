// Times the catalogue on a generated working folder:
//   bench_catalogue CORPUS
// CORPUS holds proc/, lists/ and archives/. Nothing is written into it: the
// saved package list goes to a temporary folder.

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"
#include "sources/IndexStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include <sys/resource.h>
#include <time.h>

namespace {

constexpr int Runs = 5;

struct Timing {
    double WallMs = 1e300; // best of the runs
    double CpuMs = 1e300;  // process CPU time of the same best-of kind
};

double CpuNowMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// Best of a few runs: the machine is shared, so the best run is the one least
// disturbed by others. Prepare runs untimed before each run.
Timing Best(const std::function<void()>& work, const std::function<void()>& prepare = {}) {
    Timing best;
    for (int i = 0; i < Runs; ++i) {
        if (prepare)
            prepare();
        const double cpu0 = CpuNowMs();
        const auto start = std::chrono::steady_clock::now();
        work();
        const auto end = std::chrono::steady_clock::now();
        best.CpuMs = std::min(best.CpuMs, CpuNowMs() - cpu0);
        best.WallMs =
            std::min(best.WallMs, std::chrono::duration<double, std::milli>(end - start).count());
    }
    return best;
}

// The floor: read every index and split it into stanzas and fields, nothing
// more (no values cut or decoded, no flags, no rows).
std::size_t PlainParse(const QString& procDir) {
    std::size_t stanzas = 0;
    std::size_t fields = 0;
    std::string text;
    for (const QString& name : IndexStore::ListIndexFiles(procDir)) {
        if (!SafeFiles::ReadAll(procDir + QLatin1Char('/') + name, SafeFiles::MaxTextSize, text))
            continue;
        TextFile::TIndexLines lines(text);
        std::string_view line;
        bool inStanza = false;
        while (lines.Next(line)) {
            if (line.empty()) {
                inStanza = false;
                continue;
            }
            if (!inStanza) {
                ++stanzas;
                inStanza = true;
            }
            if (line[0] != ' ' && line[0] != '\t' && line.find(':') != std::string_view::npos)
                ++fields;
        }
    }
    return stanzas + (fields & 1);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_catalogue CORPUS\n");
        return 2;
    }
    const QString corpus = QString::fromLocal8Bit(argv[1]);
    const QString proc = corpus + QStringLiteral("/proc");
    const QString lists = corpus + QStringLiteral("/lists");
    const QString archives = corpus + QStringLiteral("/archives");
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString cache = scratch.filePath(QStringLiteral("cache.txt"));

    std::size_t parsed = 0;
    const Timing parse = Best([&] { parsed = PlainParse(proc); });

    // The rows of the previous run are freed before the clock starts: a
    // caller's old list is not part of loading the new one.
    TPackageRows rows;
    const auto dropRows = [&rows] { TPackageRows().swap(rows); };
    const Timing load = Best([&] { rows = LoadPackages(proc, lists, archives); }, dropRows);
    const Timing save = Best([&] { PackageList::SavePackageList(cache, rows); });
    const Timing loadSave = Best(
        [&] {
            rows = LoadPackages(proc, lists, archives);
            PackageList::SavePackageList(cache, rows);
        },
        dropRows);
    TPackageRows copy;
    const Timing sort = Best([&] { SortPackages(copy); }, [&] { copy = rows; });
    copy = {};
    std::size_t flagged = 0, downloaded = 0;
    std::map<std::string, std::size_t> perSection;
    for (const TPackageRow& r : rows) {
        flagged += (r.State & StateNewOrUpdated) != 0;
        downloaded += (r.State & StateDownloaded) != 0;
        ++perSection[std::string(r.Section())];
    }
    // The category switch is timed on the biggest category.
    std::string biggest;
    std::size_t biggestRows = 0;
    for (const auto& [section, count] : perSection)
        if (!section.empty() && count > biggestRows) {
            biggest = section;
            biggestRows = count;
        }

    TPackageRows shown;
    std::vector<std::string> categories;
    PackageList::TLoadResult allResult{}, oneResult{};
    const Timing all =
        Best([&] { allResult = PackageList::LoadPackageList(cache, {}, shown, categories); });
    const std::size_t allRows = shown.size();
    const Timing one =
        Best([&] { oneResult = PackageList::LoadPackageList(cache, biggest, shown, categories); });

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);

    std::printf("stanzas (plain parse): %zu\n", parsed);
    std::printf("rows: %zu, new or updated: %zu, downloaded: %zu\n", rows.size(), flagged,
                downloaded);
    const auto line = [](const char* what, const Timing& t) {
        std::printf("%s: %.1f ms (CPU %.1f ms)\n", what, t.WallMs, t.CpuMs);
    };
    line("plain parse", parse);
    line("load + save", loadSave);
    line("  load alone", load);
    line("  save alone", save);
    line("  sorting by caption alone", sort);
    line("saved list, all categories", all);
    std::printf("  %zu rows, %zu categories, %s\n", allRows, categories.size(),
                allResult == PackageList::TLoadResult::Complete ? "complete" : "NOT complete");
    const std::string oneLabel = "saved list, category \"" + biggest + "\"";
    line(oneLabel.c_str(), one);
    std::printf("  %zu rows, %s\n", shown.size(),
                oneResult == PackageList::TLoadResult::Complete ? "complete" : "NOT complete");
    std::printf("peak RSS: %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    std::printf("load/parse ratio (CPU): %.2f\n", loadSave.CpuMs / parse.CpuMs);
    std::printf("load/parse ratio: %.2f\n", loadSave.WallMs / parse.WallMs);
    return 0;
}
