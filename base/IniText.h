#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The line-level layer under TIniFile: the file's lines as the shared INI
// reading rule (common/IniLines.h) sees them, each keeping its bytes. Reading
// and replacing the file is the file layer's (SafeFiles).
namespace IniText {

struct TIniLine {
    enum class TKind { Other, Section, Key };
    QByteArray Raw; // the line without its line break, written back unchanged
    QByteArray End; // its line break as read ("\n", "\r\n", "\r"; empty for a last line without)
    TKind Type = TKind::Other;
    QString Name;        // section or key name
    QByteArray KeyBytes; // the key as written in the file
    QByteArray Value;    // trimmed, quotes removed
};
using TIniLines = std::vector<TIniLine>;

TIniLine ParseLine(const QByteArray& raw);
// Every line of a file; each keeps its own line break.
TIniLines Parse(const QByteArray& data);

} // namespace IniText
