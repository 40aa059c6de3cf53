// Feeds arbitrary bytes to the settings file reader and writer: whatever the
// file holds, reads must return and writes must leave a file that reads back
// what was written.
#include "base/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each write is synced to disk; a memory file system keeps the runs fast.
    static QTemporaryDir dir(QFile::exists(QStringLiteral("/dev/shm"))
                                 ? QStringLiteral("/dev/shm/fuzz_ini-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_ini-XXXXXX"));
    if (!dir.isValid())
        return 0;
    const QString path = dir.filePath(QStringLiteral("fuzz.ini"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    TIniFile ini(path);
    // Section and key names taken from the input itself reach the odd corners.
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data),
                                           static_cast<qsizetype>(std::min<size_t>(size, 64)));
    const QStringList words = text.split(QLatin1Char('='));
    const QString section = words.value(0);
    const QString key = words.value(1, QStringLiteral("k"));

    for (const QString& s : {section, QStringLiteral("Settings"), QStringLiteral("Disabled")}) {
        const QStringList keys = ini.ReadSectionKeys(s);
        Check(static_cast<size_t>(keys.size()) == ini.ReadSection(s).size());
        for (const QString& k : keys) {
            (void)ini.ReadString(s, k, QString());
            (void)ini.ReadInteger(s, k, 0);
        }
        (void)ini.ReadBool(s, key, false);
    }
    int value = 0;
    (void)ParseProfileInteger(text, value);

    const QString written = words.value(2, QStringLiteral(" value "));
    if (ini.WriteString(section, key, written)) {
        Check(ini.ReadString(section, key, QStringLiteral("<missing>")) == written);
        Check(ini.EraseSection(section));
        Check(ini.ReadString(section, key, QStringLiteral("<missing>")) ==
              QStringLiteral("<missing>"));
    }
    if (ini.WriteString(QStringLiteral("Settings"), QStringLiteral("Refresh"), QStringLiteral("1")))
        Check(ini.ReadBool(QStringLiteral("Settings"), QStringLiteral("Refresh"), false));
    (void)ini.ReplaceSection(QStringLiteral("Disabled"), {{QStringLiteral("0"), text}});
    return 0;
}
