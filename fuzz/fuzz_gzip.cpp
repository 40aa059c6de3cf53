// Feeds arbitrary bytes to the whole gzip decompression, as a downloaded
// file: it must end with an outcome, leave in its folder nothing but the one
// output it names (and that only on success), and agree with zlib's own gzip
// reader on every file both can judge: same success, same bytes.
#include "archive/FileTools.h"
#include "base/Utf8Text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

constexpr std::uint64_t Limit = std::uint64_t(8) << 20;

// The first member as zlib's gzip reader decodes it; false when it fails or
// its output passes the limit.
bool ZlibDecode(const std::uint8_t* data, std::size_t size, std::string& out) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return false;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = uInt(size);
    char block[1 << 16];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() <= Limit) {
        z.next_out = reinterpret_cast<Bytef*>(block);
        z.avail_out = sizeof block;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(block, sizeof block - z.avail_out);
        if (rc == Z_BUF_ERROR || (rc == Z_OK && z.avail_in == 0 && z.avail_out > 0))
            break;
    }
    inflateEnd(&z);
    return rc == Z_STREAM_END && out.size() <= Limit;
}

// Every name in Folder as the system lists it: QDir leaves out names that are
// not UTF-8, and litter with such a name must be seen too. A leading U+FEFF
// is kept, as the output's name keeps it.
QStringList Entries(const QString& folder) {
    QStringList names;
    DIR* d = ::opendir(QFile::encodeName(folder).constData());
    while (const dirent* e = d ? ::readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names << Utf8Text::Decode(e->d_name);
    if (d)
        ::closedir(d);
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace FileTools;
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_gzip-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_gzip-XXXXXX"));
    static const bool ready = dir.isValid() && QDir(dir.path()).mkdir(QStringLiteral("out"));
    if (!ready)
        return 0;
    const QString in = dir.filePath(QStringLiteral("download.txt.gz"));
    const QString outFolder = dir.filePath(QStringLiteral("out"));
    {
        QFile f(in);
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        Check(f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
    }
    const TGUnZipResult r = GUnZipFile(in, outFolder, 4096, {}, Limit);
    const bool ok = r.Outcome == TGUnZipOutcome::Ok;
    const QStringList left = Entries(outFolder);
    Check(left.size() == (ok ? 1 : 0));
    Check(r.BytesWritten <= Limit);
    QByteArray output;
    if (ok) {
        // Joined by hand: QDir::filePath takes a name starting with ":" for
        // a resource path and returns it alone.
        Check(outFolder + QLatin1Char('/') + left.front() == r.OutputPath);
        QFile f(r.OutputPath);
        Check(f.open(QIODevice::ReadOnly));
        output = f.readAll();
        Check(std::uint64_t(output.size()) == r.BytesWritten);
        Check(f.remove());
    }

    // zlib checks more of the header than the data needs (the header CRC,
    // the method, the reserved flag bits) and knows no output limit or name
    // rule. Compare where it has no such reason to differ.
    const bool plainHeader = size >= 4 && data[2] == 8 && (data[3] & 0xE2) == 0;
    const bool judgedOnData = ok || r.Outcome == TGUnZipOutcome::NotGzip ||
                              r.Outcome == TGUnZipOutcome::InflateError ||
                              r.Outcome == TGUnZipOutcome::TrailerMismatch;
    std::string reference;
    const bool zlibOk = ZlibDecode(data, size, reference);
    if (plainHeader && judgedOnData)
        Check(ok == zlibOk);
    if (ok && zlibOk)
        Check(output == QByteArray::fromStdString(reference));
    return 0;
}
