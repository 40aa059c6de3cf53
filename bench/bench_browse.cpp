// Timing of the browse operations on a generated working folder:
//   bench_browse CORPUS
// CORPUS holds "proc/" with the indexes. Prints one line per figure, the best
// of five runs each.

#include "base/SafeFiles.h"
#include "base/TextFile.h"
#include "catalogue/Browse.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageIndex.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

constexpr int Runs = 5;

// Best wall time and best processor time of the calling thread over Runs runs;
// on a busy machine the second shows what the work itself costs.
struct Timing {
    double wallMs = 1e300;
    double cpuMs = 1e300;
};

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

Timing Best(const std::function<void()>& work) {
    Timing best;
    for (int i = 0; i < Runs; ++i) {
        const double cpu0 = ThreadCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        const double cpu1 = ThreadCpuMs();
        best.wallMs =
            std::min(best.wallMs, std::chrono::duration<double, std::milli>(t1 - t0).count());
        best.cpuMs = std::min(best.cpuMs, cpu1 - cpu0);
    }
    return best;
}

// The identifier of the last stanza that appears once in the file (a repeated
// identifier would stop the scan at its first stanza).
std::string LastUniqueIdentifier(const QString& path) {
    std::string text;
    if (!SafeFiles::ReadAll(path, SafeFiles::MaxTextSize, text))
        return {};
    std::unordered_map<std::string, int> count;
    std::vector<std::string> order;
    TextFile::TIndexLines lines(text);
    std::string_view line;
    while (lines.Next(line))
        if (line.starts_with("Package: ")) {
            std::string id(line.substr(9));
            if (++count[id] == 1)
                order.push_back(id);
        }
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        if (count[*it] == 1)
            return *it;
    return {};
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_browse CORPUS\n");
        return 2;
    }
    const QDir corpus(QString::fromLocal8Bit(argv[1]));
    const QString proc = corpus.filePath("proc") + "/";
    QFileInfo largest;
    for (const QFileInfo& file :
         QDir(proc).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (file.fileName().endsWith("packages", Qt::CaseInsensitive) &&
            file.size() > largest.size())
            largest = file;

    // The list as the catalogue shows it: sorted, the flagged rows first.
    const TPackageRows rows =
        LoadPackages(proc, corpus.filePath("lists") + "/", corpus.filePath("archives") + "/");
    if (rows.empty()) {
        std::fprintf(stderr, "no package rows under %s\n", argv[1]);
        return 1;
    }

    // A text whose only matches lie in the last twentieth of the list.
    const std::size_t tail = rows.size() - rows.size() / 20;
    std::string needle;
    int target = -1;
    for (std::size_t i = rows.size(); i-- > tail && needle.empty();) {
        const std::string candidate = Browse::PrepareNeedle(rows[i].Package());
        int first = -1;
        for (std::size_t k = 0; k < rows.size() && first < 0; ++k)
            if (Browse::RowMatches(rows[k], candidate))
                first = static_cast<int>(k);
        if (first >= static_cast<int>(tail)) {
            needle = candidate;
            target = first;
        }
    }

    std::printf("rows: %zu (best of %d runs; wall time, processor time of the thread)\n",
                rows.size(), Runs);
    if (!needle.empty()) {
        int found = -2;
        const Timing t = Best([&] { found = Browse::FindNext(rows, -1, needle).Row; });
        std::printf("FindNext from the top, only match at row %d of %zu: %.2f ms, cpu %.2f ms%s\n",
                    found, rows.size(), t.wallMs, t.cpuMs, found == target ? "" : " WRONG ROW");
    }
    {
        int found = -2;
        const Timing t =
            Best([&] { found = Browse::FindNext(rows, -1, "no such text anywhere").Row; });
        std::printf("FindNext from the top, no match: %.2f ms, cpu %.2f ms%s\n", t.wallMs, t.cpuMs,
                    found == -1 ? "" : " WRONG ROW");
    }
    {
        const std::string last(rows.back().Package());
        int found = -2;
        const Timing t = Best([&] { found = Browse::FindIdentifier(rows, last); });
        std::printf("FindIdentifier of the last row: %.2f ms, cpu %.2f ms (row %d)\n", t.wallMs,
                    t.cpuMs, found);
    }

    const std::string indexFile = largest.fileName().toStdString();
    const std::string lastId = LastUniqueIdentifier(largest.filePath());
    {
        // The first lookup in an index reads it whole and keeps where its
        // stanzas lie; the runs below read one stanza.
        TDebianInfo info;
        info.Package = lastId;
        info.IndexFile = indexFile;
        const auto t0 = std::chrono::steady_clock::now();
        const bool found = FindPackage(info, proc);
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - t0;
        std::printf("FindPackage, first lookup in the largest index: %.2f ms%s\n", took.count(),
                    found ? "" : " NOT FOUND");
    }
    {
        bool found = false;
        const Timing t = Best([&] {
            TDebianInfo info;
            info.Package = lastId;
            info.IndexFile = indexFile;
            found = FindPackage(info, proc);
        });
        std::printf("FindPackage of the last stanza of the largest index (%.1f MB): %.2f ms, "
                    "cpu %.2f ms%s\n",
                    static_cast<double>(largest.size()) / 1e6, t.wallMs, t.cpuMs,
                    found ? "" : " NOT FOUND");
    }
    {
        const Timing t = Best([&] {
            TDebianInfo info;
            info.Package = "no.such.package";
            info.IndexFile = indexFile;
            FindPackage(info, proc);
        });
        std::printf("FindPackage of a missing identifier in the same index: %.2f ms, cpu %.2f ms\n",
                    t.wallMs, t.cpuMs);
    }
    return 0;
}
