// Loads arbitrary bytes as an index of the store, with a part of them as its
// reference copy and a local package cache holding one file.

#include "catalogue/PackageIndex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void WriteFile(const QString& path, const char* data, std::size_t size) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data, qint64(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir root;
    static const bool ready = [] {
        for (const char* sub : {"proc", "lists", "archives"})
            QDir(root.path()).mkdir(QString::fromLatin1(sub));
        WriteFile(root.filePath(QStringLiteral("archives/foo_1.0_iphoneos-arm.deb")), "", 0);
        return root.isValid();
    }();
    if (!ready)
        std::abort();
    const auto* text = reinterpret_cast<const char*>(data);
    // The first byte picks how much of the rest becomes the reference copy.
    const std::size_t split = size == 0 ? 0 : (std::size_t(data[0]) * size) / 256;
    WriteFile(root.filePath(QStringLiteral("proc/r_Packages")), text, size);
    WriteFile(root.filePath(QStringLiteral("lists/r_Packages")), text + split, size - split);
    const TPackageRows rows =
        LoadPackages(root.filePath(QStringLiteral("proc")), root.filePath(QStringLiteral("lists")),
                     root.filePath(QStringLiteral("archives")));
    for (const TPackageRow& r : rows) {
        if (r.State < 0 || r.State > 3 || r.Marked || r.IndexFile() != "r_Packages" ||
            r.Caption().size() > 256 || r.Description().size() > 256 || r.Package().size() > 256)
            std::abort();
    }
    // Flagged rows come first.
    bool seenPlain = false;
    for (const TPackageRow& r : rows) {
        if ((r.State & StateNewOrUpdated) == 0)
            seenPlain = true;
        else if (seenPlain)
            std::abort();
    }
    return 0;
}
