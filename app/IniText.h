#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The line-level layer under IniFile: reading the file safely, splitting it into
// lines that keep their bytes, and replacing it atomically.
namespace IniText {

// Files larger than this are not settings files.
constexpr qint64 MaxFileSize = 1 << 20;

enum class LoadStatus { Ok, Missing, Unreadable };

struct Loaded {
    LoadStatus Status = LoadStatus::Missing;
    QByteArray Data;
    QString Reason; // why the file could not be read
};

// Reads Path without blocking (a FIFO or device is refused, not waited on) and
// only when it is a regular file of at most MaxFileSize bytes.
Loaded LoadBytes(const QString& path);

QString ErrnoText(int err);

bool IsBlank(char c);
QByteArray TrimBlanks(const QByteArray& s);
bool IsQuote(char c);
// Drops one pair of matching single or double quotes around S.
QByteArray Unquote(const QByteArray& s);

struct IniLine {
    enum class Kind { Other, Section, Key };
    QByteArray Raw; // the line without its line break, written back unchanged
    Kind Type = Kind::Other;
    QString Name;        // section or key name
    QByteArray KeyBytes; // the key as written in the file
    QByteArray Value;    // trimmed, quotes removed
};
using Lines = std::vector<IniLine>;

IniLine ParseLine(QByteArray raw);
// Splits at LF; a CR before it is dropped.
Lines Parse(const QByteArray& data);

// Writes Data to a temporary file beside Path, syncs it and renames it over
// Path. On failure Path is untouched, the temporary is gone and Reason says why.
bool ReplaceFile(const QString& path, const QByteArray& data, QString& reason);

} // namespace IniText
