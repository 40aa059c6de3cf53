#include "app/Settings.h"

#include "app/Outcome.h"
#include "app/SafeFiles.h"

#include <QFileInfo>
#include <QHash>

namespace Settings {

namespace {

const QString kSettings = QStringLiteral("Settings");
const QString kDisabled = QStringLiteral("Disabled");
const QString kActivePage = QStringLiteral("ActivePage");
const QString kArchitecture = QStringLiteral("Architecture");

struct Option {
    const char* Key;
    bool TSettings::*Field;
};

// The order in which the keys first appear in a new file.
constexpr Option kOptions[] = {
    {"Refresh", &TSettings::Refresh},
    {"GetCydia", &TSettings::GetCydia},
    {"PutCydia", &TSettings::PutCydia},
    {"PutDebs", &TSettings::PutDebs},
    {"PutAutoInstall", &TSettings::PutAutoInstall},
};

} // namespace

const QStringList& PhoneArchitectures() {
    static const QStringList all{QStringLiteral("iphoneos-arm"), QStringLiteral("iphoneos-arm64"),
                                 QStringLiteral("iphoneos-arm64e")};
    return all;
}

QString NormalizeArchitecture(const QString& text) {
    const QString trimmed = text.trimmed();
    for (const QString& known : PhoneArchitectures())
        if (trimmed.compare(known, Qt::CaseInsensitive) == 0)
            return known;
    return {};
}

QString SettingsFilePath(const QString& programFilePath) {
    if (programFilePath.isEmpty())
        return {};
    const QFileInfo program(programFilePath);
    QString name = program.fileName();
    // The extension, if any, is replaced; a leading dot starts no extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return program.absolutePath() + QLatin1Char('/') + name + QStringLiteral(".ini");
}

TSettings LoadSettings(const IniFile& ini, SourceList& sources) {
    TSettings settings;
    for (const Option& o : kOptions)
        settings.*o.Field = ini.ReadBool(kSettings, QString::fromLatin1(o.Key), false);
    settings.Architecture = NormalizeArchitecture(ini.ReadString(kSettings, kArchitecture, {}));

    // The section is read once and looked up in memory: a hand-edited section
    // with many keys must not mean reading the file once per key.
    const std::vector<IniEntry> entries = ini.ReadSection(kDisabled);
    QHash<QString, QString> firstByKey;
    for (const IniEntry& e : entries) {
        const QString folded = e.Key.toCaseFolded();
        if (!firstByKey.contains(folded))
            firstByKey.insert(folded, e.Value);
    }
    // Keys 0 to N-1 where N counts the key lines: a gap in the numbering leaves
    // the keys above it unread.
    QStringList values;
    const qsizetype count = static_cast<qsizetype>(entries.size());
    for (qsizetype k = 0; k < count; ++k) {
        const auto it = firstByKey.constFind(QString::number(k));
        if (it != firstByKey.constEnd())
            values.append(it.value());
    }
    sources.ApplyDisabled(values);
    return settings;
}

bool SaveSettings(IniFile& ini, const TSettings& settings, int activePage,
                  const SourceList& sources) {
    std::vector<IniValue> values;
    for (const Option& o : kOptions)
        values.push_back({kSettings, QString::fromLatin1(o.Key),
                          settings.*o.Field ? QStringLiteral("1") : QStringLiteral("0")});
    values.push_back({kSettings, kActivePage, QString::number(activePage)});
    // After the older keys, so that a file written before this option existed
    // keeps its order and only gains one line.
    values.push_back({kSettings, kArchitecture, NormalizeArchitecture(settings.Architecture)});

    // A source the file cannot keep is left out (and comes back checked)
    // rather than failing the whole save.
    IniSection disabled{kDisabled, {}};
    for (const QString& text : sources.DisabledValues()) {
        if (const QString why = UnstorableReason(text); !why.isEmpty()) {
            ReportToStderr(QStringLiteral("источник \"%1\" не сохранён в настройках: %2")
                               .arg(SafeFiles::PrintableName(text.left(200).toStdString()), why));
            continue;
        }
        disabled.Entries.push_back({QString::number(disabled.Entries.size()), text});
    }
    // One replacement of the file: a failure or a crash leaves the old
    // settings whole rather than half of the new ones.
    return ini.Apply(values, {disabled});
}

QString UnstorableReason(const QString& value) {
    if (value.size() > MaxValueLength)
        return QStringLiteral("длиннее %1 знаков").arg(MaxValueLength);
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("в тексте управляющий символ");
    return {};
}

int ReadActivePage(const IniFile& ini) {
    const int page = ini.ReadInteger(kSettings, kActivePage, 0);
    return page >= 0 && page <= 3 ? page : -1;
}

} // namespace Settings
