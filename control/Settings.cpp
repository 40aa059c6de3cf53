#include "control/Settings.h"

#include "base/Outcome.h"
#include "base/SafeFiles.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace Settings {

namespace {

const QString SettingsSection = QStringLiteral("Settings");
const QString DisabledSection = QStringLiteral("Disabled");
const QString ActivePageKey = QStringLiteral("ActivePage");
const QString ArchitectureKey = QStringLiteral("Architecture");
const QString SourcesSection = QStringLiteral("Sources");
const QString CountKey = QStringLiteral("Count");
const QString HttpsSection = QStringLiteral("Https");

struct TOptionKey {
    const char* Key;
    bool TOptions::*Field;
};

// The order in which the keys first appear in a new file.
constexpr TOptionKey OptionKeys[] = {
    {"Refresh", &TOptions::Refresh},
    {"GetCydia", &TOptions::GetCydia},
    {"PutCydia", &TOptions::PutCydia},
    {"PutDebs", &TOptions::PutDebs},
    {"PutAutoInstall", &TOptions::PutAutoInstall},
};

// The values of keys "0" to "N-1" of a section, where N counts its key lines:
// a gap in the numbering leaves the keys above it unread. The section is read
// once and looked up in memory: a hand-edited section with many keys must not
// mean reading the file once per key.
QStringList NumberedValues(const std::vector<TIniEntry>& entries) {
    QHash<QString, QString> firstByKey;
    for (const TIniEntry& e : entries) {
        const QString folded = e.Key.toCaseFolded();
        if (!firstByKey.contains(folded))
            firstByKey.insert(folded, e.Value);
    }
    QStringList values;
    const qsizetype count = static_cast<qsizetype>(entries.size());
    for (qsizetype k = 0; k < count; ++k) {
        const auto it = firstByKey.constFind(QString::number(k));
        if (it != firstByKey.constEnd())
            values.append(it.value());
    }
    return values;
}

// A numbered section of the texts the file can keep; the others are left out
// (and said on stderr) rather than failing the whole save.
TIniSection NumberedSection(const QString& name, const QStringList& texts) {
    TIniSection section{name, {}};
    for (const QString& text : texts) {
        if (const QString why = UnstorableReason(text); !why.isEmpty()) {
            ReportToStderr(QStringLiteral("источник \"%1\" не сохранён в настройках: %2")
                               .arg(SafeFiles::PrintableName(text.left(200).toStdString()), why));
            continue;
        }
        section.Entries.push_back({QString::number(section.Entries.size()), text});
    }
    return section;
}

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

TOptions LoadSettings(const TIniFile& ini, TSourceList& sources) {
    TOptions settings;
    for (const TOptionKey& o : OptionKeys)
        settings.*o.Field = ini.ReadBool(SettingsSection, QString::fromLatin1(o.Key), false);
    settings.Architecture =
        NormalizeArchitecture(ini.ReadString(SettingsSection, ArchitectureKey, {}));

    // The list as the user left it: its order, the sources that never
    // refreshed and the deletions. Without one (first start, a file of an
    // earlier version) the list rebuilt from the store stays.
    const std::vector<TIniEntry> saved = ini.ReadSection(SourcesSection);
    const bool haveList = std::any_of(saved.begin(), saved.end(), [](const TIniEntry& e) {
        return e.Key.compare(CountKey, Qt::CaseInsensitive) == 0;
    });
    if (haveList) {
        QStringList texts = NumberedValues(saved);
        texts.removeIf([](const QString& t) {
            return t.trimmed().isEmpty() || !UnstorableReason(t).isEmpty();
        });
        sources.Assign(texts);
    }
    sources.RememberHttps(NumberedValues(ini.ReadSection(HttpsSection)));
    const QStringList values = NumberedValues(ini.ReadSection(DisabledSection));
    sources.ApplyDisabled(values);
    return settings;
}

bool SaveSettings(TIniFile& ini, const TOptions& settings, int activePage,
                  const TSourceList& sources) {
    std::vector<TIniValue> values;
    for (const TOptionKey& o : OptionKeys)
        values.push_back({SettingsSection, QString::fromLatin1(o.Key),
                          settings.*o.Field ? QStringLiteral("1") : QStringLiteral("0")});
    values.push_back({SettingsSection, ActivePageKey, QString::number(activePage)});
    // After the older keys, so that a file written before this option existed
    // keeps its order and only gains one line.
    values.push_back(
        {SettingsSection, ArchitectureKey, NormalizeArchitecture(settings.Architecture)});

    // A source the file cannot keep is left out (and comes back checked)
    // rather than failing the whole save.
    const TIniSection disabled = NumberedSection(DisabledSection, sources.DisabledValues());
    TIniSection list = NumberedSection(SourcesSection, sources.Texts());
    list.Entries.insert(list.Entries.begin(), {CountKey, QString::number(list.Entries.size())});
    const TIniSection https = NumberedSection(HttpsSection, sources.HttpsNames());
    // One replacement of the file: a failure or a crash leaves the old
    // settings whole rather than half of the new ones.
    return ini.Apply(values, {disabled, list, https});
}

QString UnstorableReason(const QString& value) {
    if (value.size() > MaxValueLength)
        return QStringLiteral("длиннее %1 знаков").arg(MaxValueLength);
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("в тексте управляющий символ");
    return {};
}

int ReadActivePage(const TIniFile& ini) {
    const int page = ini.ReadInteger(SettingsSection, ActivePageKey, 0);
    return page >= 0 && page <= 3 ? page : -1;
}

} // namespace Settings
