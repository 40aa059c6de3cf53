// Feeds arbitrary bytes to the details scan as an index file, and to the
// download address and the label helpers: none of them may crash, hang or read
// outside their input, and the address always comes back with its scheme. A
// lookup through the stanza offsets kept gives what the first one gave.
#include "base/TextFile.h"
#include "catalogue/AsciiText.h"
#include "catalogue/PackageDetails.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Whether a walk over the whole text meets a "package:" line of Package: then
// and only then a lookup through the stanza offsets finds it.
bool Listed(std::string_view text, std::string_view package) {
    TextFile::TIndexLines lines(text);
    std::string_view line;
    while (lines.Next(line))
        if (AsciiText::StartsWithNoCase(line, "package: ") && line.substr(9) == package)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_details-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_details-XXXXXX"));
    if (!dir.isValid())
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // A name of its own for each input: a file rewritten within one tick of
    // the clock to the same size would meet the offsets of the one before.
    static unsigned serial = 0;
    const std::string name = "repo" + std::to_string(++serial % 100) + ".example.org_._Packages";
    {
        QFile f(dir.filePath(QString::fromStdString(name)));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(input.data(), static_cast<qint64>(input.size()));
    }

    // The identifier to look for: the first line's tail, so that matches happen.
    const std::size_t eol = input.find('\n');
    const std::string_view first = input.substr(0, eol == std::string_view::npos ? 40 : eol);
    TDebianInfo info;
    info.Package = std::string(first.substr(first.size() > 9 ? 9 : first.size()));
    info.IndexFile = name;
    TDebianInfo again = info;
    const bool found = FindPackage(info, dir.path() + QStringLiteral("/"));
    if (info.Filename.rfind("http://", 0) != 0 || found != Listed(input, again.Package))
        std::abort();
    // The second lookup goes through the offsets the first one kept.
    if (FindPackage(again, dir.path() + QStringLiteral("/")) != found || !(again == info))
        std::abort();

    // The same bytes as an index name and a file name, and as label texts.
    const std::size_t half = input.size() / 2;
    const std::string address = DownloadAddress(input.substr(0, half), input.substr(half));
    if (address.rfind("http://", 0) != 0)
        std::abort();
    (void)SplitAuthor(input);
    (void)DependsDisplay(input);
    (void)NextDependency(input.substr(0, half), input.substr(half));
    return 0;
}
