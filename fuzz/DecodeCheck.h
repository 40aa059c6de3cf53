#pragma once

// The check shared by the xz and zstd fuzzers: arbitrary bytes decoded from a
// device and from a file must give the same status and the same bytes, the
// file only on success, and a success must match what the library's own
// one-call decoder makes of the bytes.
#include "archive/FileTools.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace DecodeCheck {

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

inline constexpr std::uint64_t Limit = std::uint64_t(8) << 20;

// Reference: the library's whole-buffer decoding of data; false when it
// refuses the bytes (or their output passes Limit).
using TReference = bool (*)(const std::uint8_t* data, std::size_t size, std::string& out);

inline void Run(FileTools::TCompression kind, const std::uint8_t* data, std::size_t size,
                TReference reference) {
    using namespace FileTools;
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_decode-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_decode-XXXXXX"));
    if (!dir.isValid())
        return;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer in;
    in.setData(bytes);
    in.open(QIODevice::ReadOnly);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    const TDecompressResult stream = UncompressStream(kind, in, out, Limit);
    Check(stream.Written == std::uint64_t(out.data().size()));
    Check(stream.Written <= Limit);

    const QString inFile = dir.filePath(QStringLiteral("in"));
    const QString outFile = dir.filePath(QStringLiteral("out"));
    {
        QFile f(inFile);
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(f.write(bytes) == bytes.size());
    }
    QFile::remove(outFile);
    const TDecompressResult file = UncompressFile(kind, inFile, outFile, Limit);
    Check(file.Status == stream.Status);
    Check(QFile::exists(outFile) == file.Ok());
    if (file.Ok()) {
        QFile f(outFile);
        Check(f.open(QIODevice::ReadOnly));
        Check(f.readAll() == out.data());
    }

    // An empty input is no stream for the library, an empty index here; the
    // library knows no memory limit of ours and no output limit.
    if (size == 0 || stream.Status == TDecompressStatus::NoMemory ||
        stream.Status == TDecompressStatus::TooLarge)
        return;
    std::string expected;
    const bool referenceOk = reference(data, size, expected);
    Check(stream.Ok() == referenceOk);
    if (referenceOk)
        Check(out.data() == QByteArray::fromStdString(expected));
}

} // namespace DecodeCheck
