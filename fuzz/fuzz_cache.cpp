// Reads arbitrary bytes as the saved package list, for all categories and for
// one, then changes a package's state in it.

#include "catalogue/PackageList.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir root;
    if (!root.isValid())
        std::abort();
    const QString cache = root.filePath(QStringLiteral("cache.txt"));
    {
        QFile f(cache);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    TPackageRows rows;
    std::vector<std::string> categories;
    const auto all = PackageList::LoadPackageList(cache, {}, rows, categories);
    if (all == PackageList::TLoadResult::Missing)
        std::abort();
    for (const TPackageRow& r : rows)
        if (r.State < 0 || r.State > 3)
            std::abort();
    for (const std::string& c : categories)
        if (c.empty())
            std::abort();
    const std::string category =
        rows.empty() ? std::string("Tweaks") : std::string(rows.front().Section());
    const TPackageKey key =
        rows.empty() ? TPackageKey{"pkg", "1", {}} : TPackageKey::Of(rows.back());
    std::vector<std::string> kept = categories;
    TPackageRows some;
    PackageList::LoadPackageList(cache, category, some, categories);
    if (categories != kept)
        std::abort();
    PackageList::LoadPackageList(cache, {}, some, kept, "iphoneos-arm64");
    PackageList::UpdatePackageIcon(cache, key, 1);
    // Saving what was read and reading it back gives the same rows.
    if (all == PackageList::TLoadResult::Complete && !rows.empty()) {
        if (!PackageList::SavePackageList(cache, rows))
            std::abort();
        TPackageRows again;
        if (PackageList::LoadPackageList(cache, {}, again, categories) !=
                PackageList::TLoadResult::Complete ||
            again != rows)
            std::abort();
    }
    return 0;
}
