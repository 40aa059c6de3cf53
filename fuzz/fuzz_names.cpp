// The program's name rules on arbitrary bytes: the names that come from a
// phone listing or an index and may become local file names, the local name
// a "Filename:" value gives, and the scratch names start-up removes. The
// whole input is one name (and one "Filename:" value); split at NUL it is
// also a phone listing. A name that fits a file name is also created in a
// working folder, which start-up must then clear of it exactly when it is a
// scratch name, leaving the program's own files alone.
#include "base/SafeFiles.h"
#include "base/Utf8Text.h"
#include "base/WorkFolders.h"
#include "catalogue/ArchiveCache.h"
#include "device/PackageCaches.h"
#include "device/SourceSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool HasControl(std::string_view s) {
    for (const char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string Bytes(const QString& s) {
    return QFile::encodeName(s).toStdString();
}

void CheckSafeName(std::string_view name) {
    const bool safe = SafeFiles::UnsafeNameReason(name).isEmpty();
    // The shared rule's UTF-8 test, written without Qt, agrees with Qt's
    // reading (through the decoder that keeps a leading U+FEFF).
    Check(FileNames::IsUtf8(name) == (Utf8Text::Decode(name).toUtf8().toStdString() == name));
    if (safe) {
        Check(SafeFiles::IsPlainFileName(name) && !HasControl(name));
        Check(name.find_first_of("/\\") == std::string_view::npos);
        const QString decoded = Utf8Text::Decode(name);
        Check(Bytes(decoded) == name);
        // One name inside the folder, never beside or above it.
        Check(QFileInfo(SafeFiles::InFolder(QStringLiteral("/w/archives"), decoded)).path() ==
              QStringLiteral("/w/archives"));
    }
    for (const QChar c : SafeFiles::PrintableName(name))
        Check(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    if (ArchiveCache::IsUsableName(name))
        Check(safe && !Startup::IsScratchName(Startup::TScratchPlace::Archives, name));
    for (const auto place : {Startup::TScratchPlace::WorkDir, Startup::TScratchPlace::Store,
                             Startup::TScratchPlace::Archives}) {
        if (!Startup::IsScratchName(place, name, "orvia.ini"))
            continue;
        Check(SafeFiles::IsPlainFileName(name));
        Check(name != "orvia.ini" && name != "T-Pot.dll" && name != "T-Pot.ini" &&
              name != "cache.txt");
        Check(name.starts_with('.') || name.starts_with("download."));
    }
}

void CheckLocalName(std::string_view filenameValue) {
    const std::string local = ArchiveCache::LocalFileName(filenameValue);
    if (ArchiveCache::IsUsableName(local))
        Check(local.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos);
}

void CheckListing(std::string_view bytes) {
    std::vector<std::string> listed;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = bytes.find('\0', start);
        listed.emplace_back(bytes.substr(start, end - start));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    const struct {
        std::string_view suffix;
        QStringList (*pick)(const std::vector<std::string>&, QStringList*);
    } rules[] = {{"_Packages", &SourceSync::PhoneIndexNames},
                 {".deb", &PackageCaches::PhonePackages}};
    for (const auto& rule : rules) {
        QStringList skipped;
        const QStringList names = rule.pick(listed, &skipped);
        qsizetype candidates = 0;
        for (const std::string& name : listed)
            candidates += EndsWith(name, rule.suffix) ? 1 : 0;
        Check(names.size() + skipped.size() == candidates);
        for (const QString& name : names) {
            const std::string raw = Bytes(name);
            Check(EndsWith(raw, rule.suffix) && SafeFiles::UnsafeNameReason(raw).isEmpty());
            // A name is kept byte for byte, or another file would be fetched.
            Check(std::find(listed.begin(), listed.end(), raw) != listed.end());
        }
        for (const QString& line : skipped)
            for (const QChar c : line)
                Check(c.unicode() >= 0x20 && c.unicode() != 0x7f);
    }
}

// Creates Name in the working folder and in each sub-folder, starts up, and
// checks that exactly the scratch names went.
void CheckStartup(std::string_view name) {
    static QTemporaryDir work;
    Check(work.isValid());
    const QString root = work.path() + QLatin1Char('/');
    const QByteArray own[] = {"orvia.ini", "T-Pot.dll", "T-Pot.ini", "proc/cache.txt"};
    const struct {
        const char* sub;
        Startup::TScratchPlace place;
    } places[] = {{"", Startup::TScratchPlace::WorkDir},
                  {"proc/", Startup::TScratchPlace::Store},
                  {"archives/", Startup::TScratchPlace::Archives}};
    QDir().mkpath(root + QStringLiteral("proc"));
    QDir().mkpath(root + QStringLiteral("archives"));
    for (const QByteArray& file : own) {
        QFile f(root + QString::fromLatin1(file));
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(file) == file.size());
    }
    std::vector<QByteArray> made;
    for (const auto& p : places) {
        const QByteArray path =
            QFile::encodeName(root) + p.sub + QByteArray(name.data(), qsizetype(name.size()));
        QFile f(QFile::decodeName(path));
        // Names the file system refuses (too long) are of no interest here.
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            for (const QByteArray& done : made)
                QFile::remove(QFile::decodeName(done));
            return;
        }
        f.close();
        made.push_back(path);
    }
    TWorkFolders folders;
    QString error;
    // Start-up enters the working folder; the fuzzer's own files (a crash
    // input) belong where it was started.
    const QString started = QDir::currentPath();
    Check(Startup::PrepareWorkFolders(work.path(), folders, error, QStringLiteral("orvia.ini")));
    Check(QDir::setCurrent(started));
    for (std::size_t i = 0; i < made.size(); ++i) {
        const bool scratch = Startup::IsScratchName(places[i].place, name, "orvia.ini");
        Check(QFileInfo::exists(QFile::decodeName(made[i])) == !scratch);
        QFile::remove(QFile::decodeName(made[i]));
    }
    for (const QByteArray& file : own) {
        QFile f(root + QString::fromLatin1(file));
        Check(f.open(QIODevice::ReadOnly) && f.readAll() == file);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckSafeName(bytes);
    CheckLocalName(bytes);
    CheckListing(bytes);
    // Only a name QFile turns back into the same bytes names one file; the
    // program's own files and folders are not names a run leaves behind.
    static const std::string_view own[] = {"orvia.ini", "T-Pot.dll", "T-Pot.ini", "cache.txt",
                                           "lists",     "proc",      "archives"};
    for (const std::string_view name : own)
        if (bytes == name)
            return 0;
    if (SafeFiles::IsPlainFileName(bytes) && bytes.size() <= 200 &&
        Bytes(QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())))) == bytes)
        CheckStartup(bytes);
    return 0;
}
