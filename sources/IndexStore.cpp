#include "sources/IndexStore.h"

#include "base/SafeFiles.h"
#include "base/Utf8Text.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace IndexStore {

namespace {

// The characters the phone's package manager quotes as "%xx" (lower-case hex)
// in its list names, besides blanks, control characters and bytes above 0x7e.
constexpr std::string_view QuotedMarks = "\\|{}[]<>\"^~_=!@#$%&*";

bool Quoted(unsigned char c) {
    return c <= 0x20 || c >= 0x7f || QuotedMarks.find(char(c)) != std::string_view::npos;
}

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

QString StripScheme(const QString& address) {
    for (QLatin1String scheme : {QLatin1String("http://"), QLatin1String("https://")})
        if (address.startsWith(scheme, Qt::CaseInsensitive))
            return address.mid(scheme.size());
    return address;
}

QString AddressToIndexName(const QString& address) {
    QString rest = StripScheme(address);
    // Credentials never become part of a file name.
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    const qsizetype at = rest.lastIndexOf(QLatin1Char('@'), slash < 0 ? -1 : slash);
    if (at >= 0 && (slash < 0 || at < slash))
        rest.remove(0, at + 1);
    const QByteArray bytes = rest.toUtf8();
    QByteArray name;
    name.reserve(bytes.size() + 8);
    static const char hex[] = "0123456789abcdef";
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/') {
            name.append('_');
        } else if (Quoted(c)) {
            name.append('%');
            name.append(hex[c >> 4]);
            name.append(hex[c & 15]);
        } else {
            name.append(ch);
        }
    }
    return QString::fromUtf8(name);
}

QString IndexNameToAddress(const QString& name, bool https) {
    QString address = name;
    address.replace(QLatin1Char('_'), QLatin1Char('/'));
    // Only what the quoting above produces is turned back; any other "%xx"
    // (a blank, a byte of a non-ASCII letter) stays as it is, which is also
    // how an address writes it.
    for (qsizetype i = 0; (i = address.indexOf(QLatin1Char('%'), i)) >= 0; ++i) {
        if (i + 2 >= address.size())
            break;
        const int high = HexValue(address[i + 1].unicode());
        const int low = HexValue(address[i + 2].unicode());
        if (high < 0 || low < 0)
            continue;
        const auto c = static_cast<unsigned char>(high * 16 + low);
        if (c > 0x20 && c < 0x7f && QuotedMarks.find(char(c)) != std::string_view::npos)
            address.replace(i, 3, QChar(c));
    }
    return (https ? QStringLiteral("https://") : QStringLiteral("http://")) + address;
}

QString SourceKey(const QString& address) {
    // Compared through its stored name, so that quoting, credentials and the
    // scheme make no difference.
    QString path = IndexNameToAddress(AddressToIndexName(address)).mid(7).toCaseFolded();
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.removeAll(QStringLiteral("."));
    if (!parts.isEmpty() && parts.last() == QLatin1String("packages"))
        parts.removeLast();
    return parts.join(QLatin1Char('/'));
}

bool IsIndexName(const QString& name) {
    return name.endsWith(QStringLiteral("packages"), Qt::CaseInsensitive);
}

namespace {

bool ModeAllowed(mode_t mode) {
    return S_ISREG(mode) || S_ISDIR(mode);
}

} // namespace

namespace {

// A line break or tab in an index name would end up in every line-based file
// the name is written to (the saved list, the settings).
bool HasControlCharacter(const QString& name) {
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

} // namespace

QStringList ListFolder(const QString& folder) {
    QStringList names;
    const QByteArray dirPath = QFile::encodeName(folder);
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir)
        return names;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* raw = entry->d_name;
        if ((raw[0] == '.' && raw[1] == 0) || (raw[0] == '.' && raw[1] == '.' && raw[2] == 0))
            continue;
        bool take = false;
        switch (entry->d_type) {
        case DT_REG:
        case DT_DIR:
            take = true;
            break;
        case DT_UNKNOWN: {
            struct stat st {};
            take = ::fstatat(dirFd, raw, &st, AT_SYMLINK_NOFOLLOW) == 0 && ModeAllowed(st.st_mode);
            break;
        }
        default:
            break;
        }
        if (take)
            names.append(Utf8Text::Decode(raw));
    }
    ::closedir(dir);
    return names;
}

QStringList ListIndexFiles(const QString& folder, QStringList* refused) {
    QStringList names = ListFolder(folder);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [refused](const QString& n) {
                                   if (!IsIndexName(n))
                                       return true;
                                   if (!HasControlCharacter(n))
                                       return false;
                                   if (refused)
                                       refused->append(
                                           QStringLiteral("\"%1\": имя содержит управляющий символ")
                                               .arg(SafeFiles::PrintableName(n.toStdString())));
                                   return true;
                               }),
                names.end());
    return names;
}

void RetireAliases(const QString& procDir, const QString& listsDir, const QString& name) {
    const QString key = SourceKey(IndexNameToAddress(name));
    const auto aliasesIn = [&](const QString& folder) {
        QStringList aliases;
        for (const QString& other : ListIndexFiles(folder))
            if (other != name && SourceKey(IndexNameToAddress(other)) == key)
                aliases.append(other);
        return aliases;
    };
    for (const QString& alias : aliasesIn(procDir))
        QFile::remove(procDir + alias);
    if (listsDir.isEmpty())
        return;
    // The reference copy moves to the new name, so the packages it lists do
    // not all show up as new; a name the phone does not use is not sent back.
    bool haveReference = QFileInfo::exists(listsDir + name);
    for (const QString& alias : aliasesIn(listsDir)) {
        if (!haveReference)
            haveReference = QFile::rename(listsDir + alias, listsDir + name);
        else
            QFile::remove(listsDir + alias);
    }
}

} // namespace IndexStore

// ---- validators ----

namespace {

// The file's size, modification time (to the nanosecond) and inode: an index
// replaced or edited by hand differs in at least one.
std::string FileIdentity(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    return std::to_string(st.st_size) + ':' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec) + ':' + std::to_string(st.st_ino);
}

constexpr std::uint64_t MaxValidatorFile = std::uint64_t(4) << 20;

} // namespace

TValidatorStore::TValidatorStore(QString procDir) : procDir_(std::move(procDir)) {
    std::string text;
    if (!SafeFiles::ReadAll(procDir_ + QLatin1String(FileName), MaxValidatorFile, text))
        return;
    // One line per index: name, identity, address, ETag, Last-Modified,
    // separated by tabs. A line of any other shape is skipped.
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const QStringList fields =
            QString::fromUtf8(text.data() + at, qsizetype(end - at)).split(QLatin1Char('\t'));
        at = end + 1;
        if (fields.size() != 5 || fields[0].isEmpty() || fields[1].isEmpty() ||
            (fields[3].isEmpty() && fields[4].isEmpty()))
            continue;
        entries_[fields[0]] = {{fields[2], fields[3].toStdString(), fields[4].toStdString()},
                               fields[1].toStdString()};
    }
}

std::optional<TIndexValidators> TValidatorStore::For(const QString& name) const {
    const auto it = entries_.find(name);
    if (it == entries_.end() || it->second.Identity != FileIdentity(procDir_ + name))
        return std::nullopt;
    return it->second.Validators;
}

void TValidatorStore::Record(const QString& name, const TIndexValidators& validators) {
    const std::string identity = FileIdentity(procDir_ + name);
    if (identity.empty() || (validators.ETag.empty() && validators.LastModified.empty()))
        entries_.erase(name);
    else
        entries_[name] = {validators, identity};
}

TOutcome TValidatorStore::Save() const {
    QByteArray text;
    for (const auto& [name, entry] : entries_) {
        if (!QFileInfo::exists(procDir_ + name))
            continue;
        const TIndexValidators& v = entry.Validators;
        text += name.toUtf8() + '\t' + QByteArray::fromStdString(entry.Identity) + '\t' +
                v.Url.toUtf8() + '\t' + QByteArray::fromStdString(v.ETag) + '\t' +
                QByteArray::fromStdString(v.LastModified) + '\n';
    }
    const QString path = procDir_ + QLatin1String(FileName);
    if (text.isEmpty()) {
        QFile::remove(path);
        return TOutcome::Success();
    }
    SafeFiles::TAtomicFile out(path);
    if (out.Open() && out.Write(text.constData(), std::size_t(text.size())) && out.Commit())
        return TOutcome::Success();
    return TOutcome::Failure(QStringLiteral("%1: %2").arg(path, out.ErrorString()));
}
