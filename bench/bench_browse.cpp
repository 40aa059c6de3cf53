// Timing of the browse operations on a generated working folder:
//   bench_browse CORPUS
// CORPUS holds "proc/" with the indexes. Prints one line per figure, the best
// of five runs each.

#include "catalogue/Browse.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/TextFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

constexpr int Runs = 5;

double BestMs(const std::function<void()>& work) {
    double best = 1e300;
    for (int i = 0; i < Runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        work();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return best;
}

// The identifier of the last stanza that appears once in the file (a repeated
// identifier would stop the scan at its first stanza).
std::string LastUniqueIdentifier(const QString& path) {
    std::string text;
    if (!TextFile::ReadAll(path, text))
        return {};
    std::unordered_map<std::string, int> count;
    std::vector<std::string> order;
    TextFile::IndexLines lines(text);
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
    const PackageRows rows =
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
        const std::string candidate = Browse::PrepareNeedle(rows[i].Package);
        int first = -1;
        for (std::size_t k = 0; k < rows.size() && first < 0; ++k)
            if (Browse::RowMatches(rows[k], candidate))
                first = static_cast<int>(k);
        if (first >= static_cast<int>(tail)) {
            needle = candidate;
            target = first;
        }
    }

    std::printf("rows: %zu\n", rows.size());
    if (!needle.empty()) {
        int found = -2;
        const double ms = BestMs([&] { found = Browse::FindNext(rows, -1, needle).Row; });
        std::printf("FindNext from the top, match at row %d of %zu (\"%s\"): %.2f ms%s\n", found,
                    rows.size(), needle.c_str(), ms, found == target ? "" : " WRONG ROW");
    }
    {
        int found = -2;
        const double ms =
            BestMs([&] { found = Browse::FindNext(rows, -1, "no such text anywhere").Row; });
        std::printf("FindNext from the top, no match (all rows and row 0): %.2f ms (row %d)\n", ms,
                    found);
    }
    {
        const std::string last = rows.back().Package;
        int found = -2;
        const double ms = BestMs([&] { found = Browse::FindIdentifier(rows, last); });
        std::printf("FindIdentifier of the last row: %.2f ms (row %d)\n", ms, found);
    }

    const std::string indexFile = largest.fileName().toStdString();
    const std::string lastId = LastUniqueIdentifier(largest.filePath());
    {
        bool found = false;
        const double ms = BestMs([&] {
            TDebianInfo info;
            info.Package = lastId;
            info.IndexFile = indexFile;
            found = FindPackage(info, proc);
        });
        std::printf("FindPackage of the last stanza of %s (%.1f MB, \"%s\"): %.2f ms%s\n",
                    indexFile.c_str(), static_cast<double>(largest.size()) / 1e6, lastId.c_str(),
                    ms, found ? "" : " NOT FOUND");
    }
    {
        const double ms = BestMs([&] {
            TDebianInfo info;
            info.Package = "no.such.package";
            info.IndexFile = indexFile;
            FindPackage(info, proc);
        });
        std::printf("FindPackage of a missing identifier in the same index: %.2f ms\n", ms);
    }
    return 0;
}
