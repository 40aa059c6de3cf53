#include "base/IniFile.h"

#include "base/IniText.h"
#include "base/SafeFiles.h"
#include "base/Utf8Text.h"
#include "common/IniLines.h"

#include <QHash>

#include <climits>
#include <optional>
#include <utility>

namespace {

using namespace IniText;
using IniLines::IsBlank;
using IniLines::IsQuote;

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

bool SameName(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) == 0;
}

bool IsSectionHeader(const TIniLine& l, const QString& name) {
    return l.Type == TIniLine::TKind::Section && SameName(l.Name, name);
}

// [first line after the header, one past the section's last line)
struct TSectionRange {
    size_t Header = 0;
    size_t End = 0;
};

std::optional<TSectionRange> FindSection(const TIniLines& lines, const QString& name,
                                         size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i) {
        if (!IsSectionHeader(lines[i], name))
            continue;
        size_t end = i + 1;
        while (end < lines.size() && lines[end].Type != TIniLine::TKind::Section)
            ++end;
        return TSectionRange{i, end};
    }
    return std::nullopt;
}

const TIniLine* FindKey(const TIniLines& lines, const QString& section, const QString& key) {
    const auto range = FindSection(lines, section);
    if (!range)
        return nullptr;
    for (size_t i = range->Header + 1; i < range->End; ++i)
        if (lines[i].Type == TIniLine::TKind::Key && SameName(lines[i].Name, key))
            return &lines[i];
    return nullptr;
}

TIniLines ReadLines(const QString& path) {
    std::string data;
    if (!SafeFiles::ReadAll(path, SafeFiles::MaxSettingsSize, data))
        return {};
    return Parse(QByteArray::fromStdString(data));
}

// ---------------------------------------------------------------------------
// Writing.

bool HasLineBreak(const QString& s) {
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

QString CheckSection(const QString& section) {
    if (section.isEmpty() || HasLineBreak(section) || section.contains(QLatin1Char(']')))
        return QStringLiteral("недопустимое имя раздела \"%1\"").arg(section);
    return {};
}

QString CheckKey(const QString& key) {
    if (key.isEmpty() || HasLineBreak(key) || key.contains(QLatin1Char('=')) ||
        key.startsWith(QLatin1Char(';')) || key.startsWith(QLatin1Char('[')))
        return QStringLiteral("недопустимое имя ключа \"%1\"").arg(key);
    return {};
}

QString CheckValue(const QString& value) {
    if (HasLineBreak(value))
        return QStringLiteral("значение с переводом строки");
    return {};
}

// Quotes a value that reading would otherwise change (blanks at its ends, or
// matching quotes around it).
QByteArray EncodeValue(const QString& value) {
    const QByteArray bytes = value.toUtf8();
    if (bytes.isEmpty())
        return bytes;
    const bool needsQuotes =
        IsBlank(bytes.front()) || IsBlank(bytes.back()) ||
        (bytes.size() >= 2 && IsQuote(bytes.front()) && bytes.front() == bytes.back());
    return needsQuotes ? '"' + bytes + '"' : bytes;
}

// A line the program writes; it ends in LF.
TIniLine MakeLine(const QByteArray& raw) {
    TIniLine line = ParseLine(raw);
    line.End = "\n";
    return line;
}

// A changed line keeps the line break it had.
void ChangeLine(TIniLine& line, const QByteArray& raw) {
    QByteArray end = line.End.isEmpty() ? QByteArray("\n") : line.End;
    line = ParseLine(raw);
    line.End = std::move(end);
}

QByteArray KeyLine(const QByteArray& key, const QString& value) {
    return key + '=' + EncodeValue(value);
}

// Removes every section called Name in one pass; true when one was found.
bool RemoveSections(TIniLines& lines, const QString& name) {
    bool removed = false;
    bool inRemoved = false;
    TIniLines kept;
    kept.reserve(lines.size());
    for (TIniLine& l : lines) {
        if (l.Type == TIniLine::TKind::Section)
            inRemoved = SameName(l.Name, name);
        if (inRemoved)
            removed = true;
        else
            kept.push_back(std::move(l));
    }
    lines = std::move(kept);
    return removed;
}

// Trimmed as the reading rule trims, on the text itself: a round trip through
// UTF-8 would drop a leading U+FEFF that the file keeps.
QString Trimmed(const QString& s) {
    const auto blank = [](QChar c) { return c.unicode() < 0x80 && IsBlank(char(c.unicode())); };
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && blank(s[from]))
        ++from;
    while (to > from && blank(s[to - 1]))
        --to;
    return s.mid(from, to - from);
}

} // namespace

// ---------------------------------------------------------------------------

TIniFile::TIniFile(QString path) : path_(std::move(path)) {}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
    const TIniLines lines = ReadLines(path_);
    const TIniLine* line = FindKey(lines, Trimmed(section), Trimmed(key));
    if (line)
        return Utf8Text::Decode(View(line->Value));
    qsizetype end = def.size();
    while (end > 0 && (def[end - 1] == QLatin1Char(' ') || def[end - 1] == QLatin1Char('\t')))
        --end;
    return def.left(end);
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    const TIniLines lines = ReadLines(path_);
    const TIniLine* line = FindKey(lines, Trimmed(section), Trimmed(key));
    int value = 0;
    if (line && ParseProfileInteger(Utf8Text::Decode(View(line->Value)), value))
        return value;
    return def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

QStringList TIniFile::ReadSectionKeys(const QString& section) const {
    QStringList keys;
    for (const TIniEntry& e : ReadSection(section))
        keys.append(e.Key);
    return keys;
}

std::vector<TIniEntry> TIniFile::ReadSection(const QString& section) const {
    std::vector<TIniEntry> entries;
    const TIniLines lines = ReadLines(path_);
    const auto range = FindSection(lines, Trimmed(section));
    if (!range)
        return entries;
    for (size_t i = range->Header + 1; i < range->End; ++i)
        if (lines[i].Type == TIniLine::TKind::Key)
            entries.push_back({lines[i].Name, Utf8Text::Decode(View(lines[i].Value))});
    return entries;
}

bool TIniFile::Fail(const QString& reason) {
    error_ = QStringLiteral("Не удалось записать файл \"%1\": %2").arg(path_, reason);
    return false;
}

namespace {

// Loads the file for a change. A missing file is an empty one; a file that is
// there but cannot be read is never overwritten, since its content would be lost.
bool LoadForChange(const QString& path, TIniLines& lines, QString& reason) {
    std::string data;
    if (SafeFiles::Read(path, SafeFiles::MaxSettingsSize, data, &reason) ==
        SafeFiles::TReadResult::Failed)
        return false;
    lines = Parse(QByteArray::fromStdString(data));
    return true;
}

bool Store(const QString& path, const TIniLines& lines, QString& reason) {
    QByteArray out;
    for (size_t i = 0; i < lines.size(); ++i) {
        const TIniLine& l = lines[i];
        out += l.Raw;
        // A last line without a break gets one when something follows it.
        out += l.End.isEmpty() && i + 1 < lines.size() ? QByteArray("\n") : l.End;
    }
    if (out.size() > TIniFile::MaxFileSize) {
        reason = QStringLiteral("файл стал бы больше %1 байт").arg(TIniFile::MaxFileSize);
        return false;
    }
    return SafeFiles::ReplaceAtomically(path, std::string_view(out.constData(), size_t(out.size())),
                                        &reason);
}

// Sets Name in section Sec (both checked and trimmed): the first matching key
// of the first matching section changes in place, a new key goes to the end
// of that section, a new section to the end of the file.
void SetKey(TIniLines& lines, const QString& sec, const QString& name, const QString& value) {
    const auto range = FindSection(lines, sec);
    if (!range) {
        lines.push_back(MakeLine('[' + sec.toUtf8() + ']'));
        lines.push_back(MakeLine(KeyLine(name.toUtf8(), value)));
        return;
    }
    for (size_t i = range->Header + 1; i < range->End; ++i) {
        TIniLine& l = lines[i];
        if (l.Type == TIniLine::TKind::Key && SameName(l.Name, name)) {
            ChangeLine(l, KeyLine(l.KeyBytes, value));
            return;
        }
    }
    // After the section's last non-blank line, so blank lines that part it
    // from the next section stay in between.
    size_t at = range->End;
    while (at > range->Header + 1 && IniLines::TrimBlanks(View(lines[at - 1].Raw)).empty())
        --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                 MakeLine(KeyLine(name.toUtf8(), value)));
}

using TCleanEntries = std::vector<std::pair<QString, QString>>;

// Removes every section Sec and appends a fresh one holding Entries; false
// when that changes nothing.
bool PutSection(TIniLines& lines, const QString& sec, const TCleanEntries& entries) {
    const bool removed = RemoveSections(lines, sec);
    if (entries.empty())
        return removed;
    lines.push_back(MakeLine('[' + sec.toUtf8() + ']'));
    TIniLines added;
    QHash<QString, size_t> addedAt; // case-folded key -> index in Added
    for (const auto& [key, value] : entries) {
        // A repeated key sets the value of the first one, as writing the keys
        // one by one would.
        const QString folded = key.toCaseFolded();
        const auto it = addedAt.constFind(folded);
        if (it != addedAt.constEnd()) {
            TIniLine& l = added[it.value()];
            ChangeLine(l, KeyLine(l.KeyBytes, value));
        } else {
            addedAt.insert(folded, added.size());
            added.push_back(MakeLine(KeyLine(key.toUtf8(), value)));
        }
    }
    lines.insert(lines.end(), added.begin(), added.end());
    return true;
}

} // namespace

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    return Apply({{section, key, value}}, {});
}

bool TIniFile::EraseSection(const QString& section) {
    return ReplaceSection(section, {});
}

bool TIniFile::ReplaceSection(const QString& section, const std::vector<TIniEntry>& entries) {
    return Apply({}, {{section, entries}});
}

bool TIniFile::Apply(const std::vector<TIniValue>& values,
                     const std::vector<TIniSection>& sections) {
    error_.clear();
    // Every name and value is checked before the file is read, so a refused one
    // leaves the file as it was.
    QString reason;
    std::vector<TIniValue> cleanValues;
    cleanValues.reserve(values.size());
    for (const TIniValue& v : values) {
        cleanValues.push_back({Trimmed(v.Section), Trimmed(v.Key), v.Value});
        const TIniValue& c = cleanValues.back();
        reason = CheckSection(c.Section);
        if (reason.isEmpty())
            reason = CheckKey(c.Key);
        if (reason.isEmpty())
            reason = CheckValue(c.Value);
        if (!reason.isEmpty())
            return Fail(reason);
    }
    std::vector<std::pair<QString, TCleanEntries>> cleanSections;
    cleanSections.reserve(sections.size());
    for (const TIniSection& s : sections) {
        auto& [name, entries] = cleanSections.emplace_back(Trimmed(s.Name), TCleanEntries{});
        reason = CheckSection(name);
        for (const TIniEntry& e : s.Entries) {
            if (!reason.isEmpty())
                break;
            entries.emplace_back(Trimmed(e.Key), e.Value);
            reason = CheckKey(entries.back().first);
            if (reason.isEmpty())
                reason = CheckValue(e.Value);
        }
        if (!reason.isEmpty())
            return Fail(reason);
    }

    TIniLines lines;
    if (!LoadForChange(path_, lines, reason))
        return Fail(reason);
    bool changed = !cleanValues.empty();
    for (const TIniValue& v : cleanValues)
        SetKey(lines, v.Section, v.Key, v.Value);
    for (const auto& [name, entries] : cleanSections)
        changed = PutSection(lines, name, entries) || changed;
    if (!changed)
        return true; // nothing to change: the file is not touched
    if (!Store(path_, lines, reason))
        return Fail(reason);
    return true;
}

bool ParseProfileInteger(const QString& text, int& value) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    // The magnitude is bounded as it grows, so a long run of digits cannot overflow.
    constexpr qint64 limit = qint64(1) << 31;
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    const qint64 result = negative ? -magnitude : magnitude;
    if (result > INT_MAX || result < INT_MIN)
        return false;
    value = static_cast<int>(result);
    return true;
}
