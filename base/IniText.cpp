#include "base/IniText.h"

#include <utility>

namespace IniText {

// ---------------------------------------------------------------------------
// Parsing. Lines are kept as bytes so that everything the program does not
// change is written back byte for byte, even when it is not valid UTF-8.

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

QByteArray TrimBlanks(const QByteArray& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

QByteArray Unquote(const QByteArray& s) {
    if (s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back())
        return s.mid(1, s.size() - 2);
    return s;
}

TIniLine ParseLine(QByteArray raw) {
    TIniLine line;
    line.Raw = std::move(raw);
    const QByteArray t = TrimBlanks(line.Raw);
    if (t.isEmpty() || t.front() == ';')
        return line;
    if (t.front() == '[') {
        const qsizetype close = t.indexOf(']');
        if (close > 0) {
            line.Type = TIniLine::Kind::Section;
            line.Name = QString::fromUtf8(TrimBlanks(t.mid(1, close - 1)));
        }
        return line;
    }
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return line;
    line.KeyBytes = TrimBlanks(t.left(eq));
    if (line.KeyBytes.isEmpty())
        return line;
    line.Type = TIniLine::Kind::Key;
    line.Name = QString::fromUtf8(line.KeyBytes);
    line.Value = Unquote(TrimBlanks(t.mid(eq + 1)));
    return line;
}

Lines Parse(const QByteArray& data) {
    Lines lines;
    const qsizetype n = data.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (end < n)
            next = data[end] == '\r' && end + 1 < n && data[end + 1] == '\n' ? end + 2 : end + 1;
        lines.push_back(ParseLine(data.mid(start, end - start)));
        lines.back().End = data.mid(end, next - end);
        start = next;
    }
    return lines;
}

} // namespace IniText
