#include "base/IniText.h"

#include "base/Utf8Text.h"
#include "common/IniLines.h"

namespace IniText {

// Lines are kept as bytes so that everything the program does not change is
// written back byte for byte, even when it is not valid UTF-8.

namespace {

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QByteArray Bytes(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

TIniLine FromLine(const IniLines::TLine& read) {
    TIniLine line;
    line.Raw = Bytes(read.Text);
    line.End = Bytes(read.End);
    if (read.Kind == IniLines::TKind::Other)
        return line;
    line.Type =
        read.Kind == IniLines::TKind::Section ? TIniLine::TKind::Section : TIniLine::TKind::Key;
    line.Name = Utf8Text::Decode(read.Name);
    if (line.Type == TIniLine::TKind::Key) {
        line.KeyBytes = Bytes(read.Name);
        line.Value = Bytes(read.Value);
    }
    return line;
}

} // namespace

TIniLine ParseLine(const QByteArray& raw) {
    return FromLine(IniLines::ReadLine(View(raw)));
}

TIniLines Parse(const QByteArray& data) {
    TIniLines lines;
    IniLines::TReader reader(View(data));
    IniLines::TLine read;
    while (reader.Next(read))
        lines.push_back(FromLine(read));
    return lines;
}

} // namespace IniText
