// Feeds arbitrary bytes to the refresh's scratch file check, as a server's
// answer lands in the working folder: the check on the file must return, and
// must agree with the same check on the bytes in memory.
#include "sources/Refresh.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TRefresh::TScratch inMemory = TRefresh::CheckScratchBytes(bytes);
    const QString path = dir.path() + QStringLiteral("/download.txt.gz");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        return 0;
    file.close();
    if (TRefresh::CheckScratchFile(path) != inMemory)
        std::abort();
    return 0;
}
