#include "common/IniLines.h"

namespace IniLines {

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back())
        return s.substr(1, s.size() - 2);
    return s;
}

TLine ReadLine(std::string_view text) {
    TLine line;
    line.Text = text;
    const std::string_view t = TrimBlanks(text);
    if (t.empty() || t.front() == ';')
        return line;
    if (t.front() == '[') {
        const std::size_t close = t.find(']');
        if (close != std::string_view::npos) {
            line.Kind = TKind::Section;
            line.Name = TrimBlanks(t.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t equals = t.find('=');
    if (equals == 0 || equals == std::string_view::npos)
        return line;
    line.Name = TrimBlanks(t.substr(0, equals));
    if (line.Name.empty())
        return line;
    line.Kind = TKind::Key;
    line.Value = Unquote(TrimBlanks(t.substr(equals + 1)));
    return line;
}

bool TReader::Next(TLine& line) {
    if (rest_.empty())
        return false;
    const std::size_t end = rest_.find_first_of("\r\n");
    const std::string_view text = rest_.substr(0, end);
    std::size_t next = rest_.size();
    if (end != std::string_view::npos)
        next = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n' ? end + 2
                                                                                      : end + 1;
    if (first_ && text.substr(0, ByteOrderMark.size()) == ByteOrderMark) {
        // The mark is part of the line as written, not of what it says.
        line = ReadLine(text.substr(ByteOrderMark.size()));
        line.Text = text;
    } else {
        line = ReadLine(text);
    }
    line.End = rest_.substr(text.size(), next - text.size());
    rest_.remove_prefix(next);
    first_ = false;
    return true;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

} // namespace IniLines
