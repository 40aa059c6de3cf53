#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The line-level layer under TIniFile: splitting the file into lines that keep
// their bytes. Reading and replacing the file is the file layer's (SafeFiles).
namespace IniText {

bool IsBlank(char c);
QByteArray TrimBlanks(const QByteArray& s);
bool IsQuote(char c);
// Drops one pair of matching single or double quotes around S.
QByteArray Unquote(const QByteArray& s);

struct TIniLine {
    enum class Kind { Other, Section, Key };
    QByteArray Raw; // the line without its line break, written back unchanged
    QByteArray End; // its line break as read ("\n", "\r\n", "\r"; empty for a last line without)
    Kind Type = Kind::Other;
    QString Name;        // section or key name
    QByteArray KeyBytes; // the key as written in the file
    QByteArray Value;    // trimmed, quotes removed
};
using Lines = std::vector<TIniLine>;

TIniLine ParseLine(QByteArray raw);
// Splits at LF, CR LF or a lone CR, as the classic profile functions read a
// file; each line keeps its own line break.
Lines Parse(const QByteArray& data);

} // namespace IniText
