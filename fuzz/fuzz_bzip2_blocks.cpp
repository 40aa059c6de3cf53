// Feeds arbitrary bytes to the parallel bzip2 decoder: whatever the bytes,
// when it gives a result that is not a fallback, the serial decoder must give
// the same status and the same output. Half of the inputs are first made
// into real bzip2 data (blocks of 100 or 200 kB), relabelled with another
// level digit, then cut or flipped, so that the block finder sees real
// markers and blocks longer than their digit allows.
#include "archive/FileTools.h"
#include "archive/FileToolsIo.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

constexpr std::uint64_t Limit = std::uint64_t(16) << 20;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace FileTools;
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_bzip2-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_bzip2-XXXXXX"));
    if (!dir.isValid() || size < 3)
        return 0;
    QByteArray input(reinterpret_cast<const char*>(data + 3), qsizetype(size - 3));
    if (data[0] & 1) {
        // Repeat the text so that it spans several blocks, compress it, then
        // relabel its level, cut it at a chosen point and flip a chosen byte.
        // Bits of the first byte: 5 picks the level, 1 to 4 the new digit
        // ('1' to '9'; higher values keep the real one).
        QByteArray text;
        while (text.size() < 250000 && !input.isEmpty())
            text += input;
        QByteArray packed(text.size() + text.size() / 2 + 1024, '\0');
        unsigned packedSize = unsigned(packed.size());
        if (BZ2_bzBuffToBuffCompress(packed.data(), &packedSize, text.data(), unsigned(text.size()),
                                     1 + ((data[0] >> 5) & 1), 0, 0) != BZ_OK)
            return 0;
        packed.resize(qsizetype(packedSize));
        if (const int digit = (data[0] >> 1) & 0xF; digit < 9)
            packed[3] = char('1' + digit);
        if (data[1] != 0)
            packed.resize(packed.size() * data[1] / 256);
        if (data[2] != 0 && !packed.isEmpty())
            packed[packed.size() * data[2] / 256] ^= char(data[0] | 1);
        input = packed;
    }
    const QString in = dir.filePath(QStringLiteral("in"));
    QFile file(in);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    Check(file.write(input) == input.size());
    file.close();

    const QString out = dir.filePath(QStringLiteral("out"));
    QFile::remove(out);
    const std::optional<TDecompressResult> parallel = UncompressBzip2InParallel(in, out, Limit, 2);
    if (!parallel)
        return 0;

    QFile source(in);
    Check(source.open(QIODevice::ReadOnly));
    QBuffer serialOut;
    serialOut.open(QIODevice::WriteOnly);
    const TDecompressResult serial =
        UncompressStream(TCompression::Bzip2, source, serialOut, Limit);
    Check(parallel->Status == serial.Status);
    if (parallel->Ok()) {
        QFile result(out);
        Check(result.open(QIODevice::ReadOnly));
        Check(result.readAll() == serialOut.data());
        Check(parallel->Written == serial.Written);
    } else {
        Check(!QFile::exists(out));
    }
    return 0;
}
