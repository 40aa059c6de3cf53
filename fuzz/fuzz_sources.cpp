// The source list's readers on arbitrary bytes: the settings file that keeps
// the list (its order, the unchecked entries, the https schemes), and the
// first line as text typed into the source field. Whatever the file holds, the
// list read from it holds only texts the file can keep, saving it never fails,
// and reading the saved file gives the same list; a typed text gives addresses
// whose index names are plain file names without control characters.
#include "base/IniFile.h"
#include "base/SafeFiles.h"
#include "control/Settings.h"
#include "sources/IndexStore.h"
#include "sources/SourceAddress.h"
#include "sources/SourceList.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

bool HasControl(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

QSet<QString> Folded(const QStringList& texts) {
    QSet<QString> set;
    for (const QString& t : texts)
        set.insert(t.toCaseFolded());
    return set;
}

void CheckSettings(std::string_view bytes) {
    static QTemporaryDir dir;
    Check(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("orvia.ini"));
    {
        QFile f(path);
        Check(f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
              f.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()));
    }
    TIniFile ini(path);
    TSourceList list;
    list.Append(QStringLiteral("http://store.example.org/./Packages"));
    const TOptions settings = Settings::LoadSettings(ini, list);
    for (const TSourceEntry& e : list.Entries())
        Check(!e.Text.trimmed().isEmpty() && Settings::UnstorableReason(e.Text).isEmpty());

    // No value read can make the save fail.
    Check(Settings::SaveSettings(ini, settings, 0, list));
    TSourceList again;
    Check(Settings::LoadSettings(ini, again) == settings);
    Check(again.Texts() == list.Texts());
    Check(Folded(again.DisabledValues()) == Folded(list.DisabledValues()));
}

void CheckTyped(std::string_view bytes) {
    const std::size_t end = bytes.find('\n');
    const QString typed = QString::fromUtf8(bytes.data(), qsizetype(std::min(end, bytes.size())));
    QStringList addresses;
    const TOutcome outcome =
        SourceAddress::FromTyped(typed, SourceAddress::DefaultArchitecture, addresses);
    if (!outcome) {
        Check(!outcome.Reason.isEmpty());
        return;
    }
    Check(!addresses.isEmpty());
    for (const QString& address : addresses) {
        Check(!HasControl(address));
        const QString name = IndexStore::AddressToIndexName(address);
        const QByteArray raw = QFile::encodeName(name);
        Check(
            SafeFiles::UnsafeNameReason(std::string_view(raw.constData(), std::size_t(raw.size())))
                .isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CheckSettings(bytes);
    CheckTyped(bytes);
    return 0;
}
