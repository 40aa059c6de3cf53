// The download's saved-state index on arbitrary bytes as the saved package
// list: states written through the index (in place where it can, the whole
// file where it cannot) must leave the same list as the plain rewrite of
// every saved row of the same builds. The first byte picks the states.
#include "catalogue/PackageDownload.h"
#include "catalogue/PackageList.h"
#include "catalogue/PackageRow.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void Write(const QString& path, const std::uint8_t* data, std::size_t size) {
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
          f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

PackageList::TLoadResult Load(const QString& path, TPackageRows& rows) {
    std::vector<std::string> categories;
    return PackageList::LoadPackageList(path, {}, rows, categories);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    Check(dir.isValid());
    if (size == 0)
        return 0;
    const int seed = data[0];
    const QString fast = dir.filePath(QStringLiteral("fast.txt"));
    const QString slow = dir.filePath(QStringLiteral("slow.txt"));
    Write(fast, data + 1, size - 1);
    Write(slow, data + 1, size - 1);

    TPackageRows rows;
    if (Load(fast, rows) != PackageList::TLoadResult::Complete)
        return 0;
    // The first, a middle and the last build of the list, and one it lacks.
    std::vector<TPackageKey> keys;
    if (!rows.empty()) {
        for (const std::size_t i : {std::size_t(0), rows.size() / 2, rows.size() - 1})
            keys.push_back(TPackageKey::Of(rows[i]));
    }
    keys.push_back({"absent.package", "1.0", TArchitecture("all")});

    TSavedStates states;
    states.Index(fast, keys);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const int state = (seed >> (2 * i)) & 3;
        states.Update(keys[i], state);
        PackageList::UpdatePackageIcon(slow, keys[i], state);
    }

    TPackageRows fastRows, slowRows;
    const PackageList::TLoadResult fastResult = Load(fast, fastRows);
    Check(fastResult == Load(slow, slowRows));
    Check(fastRows == slowRows);
    return 0;
}
