#include "device/PhoneArchitecture.h"

#include "base/SafeFiles.h"
#include "device/Phone.h"

#include <QFile>

#include <array>

namespace PhoneArchitecture {

namespace {

// The file holds a line or two; anything much longer is not it.
constexpr qint64 MaxFileSize = 64 * 1024;

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::string FromDpkgFile(std::string_view text) {
    constexpr std::array<std::string_view, 3> Known = {"iphoneos-arm", "iphoneos-arm64",
                                                       "iphoneos-arm64e"};
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        for (const std::string_view known : Known)
            if (line == known)
                return std::string(known);
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
    return {};
}

TOutcome Read(TPhone& phone, const QString& scratch, std::string& architecture) {
    architecture.clear();
    QStringList tried;
    for (const char* file : Files) {
        QFile::remove(scratch);
        if (const TOutcome got = phone.iPhone_get(file, scratch); !got) {
            tried << QStringLiteral("%1: не получен: %2").arg(QLatin1String(file), got.Reason);
            continue;
        }
        std::string text;
        const bool read = SafeFiles::ReadAll(scratch, MaxFileSize, text);
        QFile::remove(scratch);
        architecture = read ? FromDpkgFile(text) : std::string();
        if (!architecture.empty())
            return TOutcome::Success();
        tried << QStringLiteral("%1: %2").arg(QLatin1String(file),
                                              read ? QStringLiteral("нет архитектуры телефона")
                                                   : QStringLiteral("не прочитан"));
    }
    return TOutcome::Failure(QStringLiteral("Телефон не сообщил свою архитектуру (%1).")
                                 .arg(tried.join(QStringLiteral("; "))));
}

} // namespace PhoneArchitecture
