#include "sources/SourceAddress.h"

#include "base/SafeFiles.h"
#include "sources/IndexStore.h"

#include <QRegularExpression>
#include <QUrl>

namespace SourceAddress {

namespace {

struct TParts {
    QString scheme; // "http" or "https"
    QString authority;
    QStringList segments; // the path without empty and "." parts
};

TOutcome Refuse(const QString& why, const QString& what) {
    return TOutcome::Failure(why + QStringLiteral(": \"") + what + QLatin1Char('"'));
}

TOutcome SplitUri(const QString& uri, TParts& parts, bool& hasPath) {
    for (const QChar c : uri)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return Refuse(QStringLiteral("в адресе управляющий символ"), uri.trimmed());
    QString rest = uri;
    const qsizetype sep = rest.indexOf(QLatin1String("://"));
    parts.scheme = QStringLiteral("http");
    if (sep >= 0) {
        parts.scheme = rest.left(sep).toLower();
        if (parts.scheme != QLatin1String("http") && parts.scheme != QLatin1String("https"))
            return Refuse(QStringLiteral("поддерживаются только адреса http:// и https://"), uri);
        rest = rest.mid(sep + 3);
    }
    if (rest.contains(QLatin1Char('?')) || rest.contains(QLatin1Char('#')))
        return Refuse(QStringLiteral("адрес источника не может содержать \"?\" или \"#\""), uri);
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    parts.authority = slash < 0 ? rest : rest.left(slash);
    hasPath = slash >= 0;
    if (parts.authority.isEmpty())
        return Refuse(QStringLiteral("в адресе нет имени сервера"), uri);
    const QUrl check(parts.scheme + QStringLiteral("://") + parts.authority + QLatin1Char('/'),
                     QUrl::StrictMode);
    if (!check.isValid() || check.host().isEmpty())
        return Refuse(QStringLiteral("неверное имя сервера"), parts.authority);
    parts.segments =
        slash < 0 ? QStringList() : rest.mid(slash).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    parts.segments.removeAll(QStringLiteral("."));
    return TOutcome::Success();
}

QString Base(const TParts& parts) {
    QString base = parts.scheme + QStringLiteral("://") + parts.authority + QLatin1Char('/');
    for (const QString& segment : parts.segments)
        base += segment + QLatin1Char('/');
    return base;
}

QString SuiteAddress(const TParts& parts, const QString& suite, const QString& component,
                     const QString& architecture) {
    return Base(parts) + QStringLiteral("dists/") + suite + QLatin1Char('/') + component +
           QStringLiteral("/binary-") + architecture + QStringLiteral("/Packages");
}

// "Packages", "Packages.gz" and the like as the last part of a pasted address.
bool IsIndexFileName(const QString& segment) {
    static const QRegularExpression name(QStringLiteral("^packages(\\.(gz|bz2|xz|zst|lzma))?$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return name.match(segment).hasMatch();
}

TOutcome FromAddress(const QString& uri, const QString& architecture, QStringList& addresses) {
    TParts parts;
    bool hasPath = false;
    if (TOutcome split = SplitUri(uri, parts, hasPath); !split)
        return split;
    const bool named = !parts.segments.isEmpty() && IsIndexFileName(parts.segments.last());
    if (named)
        parts.segments.removeLast();
    qsizetype dists = -1;
    for (qsizetype i = 0; i < parts.segments.size() && dists < 0; ++i)
        if (parts.segments[i].compare(QLatin1String("dists"), Qt::CaseInsensitive) == 0)
            dists = i;
    if (dists < 0) {
        // A flat repository, named as the phone names it ("deb URI ./").
        addresses.append(Base(parts) + QStringLiteral("./Packages"));
        return TOutcome::Success();
    }
    const qsizetype below = parts.segments.size() - dists - 1;
    if (below == 0)
        return Refuse(QStringLiteral("после \"dists/\" нужен дистрибутив, например stable"), uri);
    if (!named && below < 3) {
        const QString suite = parts.segments[dists + 1];
        const QString component = below == 2 ? parts.segments[dists + 2] : QStringLiteral("main");
        parts.segments.resize(dists);
        addresses.append(SuiteAddress(parts, suite, component, architecture));
        return TOutcome::Success();
    }
    addresses.append(Base(parts) + QStringLiteral("Packages"));
    return TOutcome::Success();
}

} // namespace

TOutcome FromTyped(const QString& typed, const QString& architecture, QStringList& addresses) {
    addresses.clear();
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QStringList tokens = typed.split(blanks, Qt::SkipEmptyParts);
    if (tokens.isEmpty())
        return TOutcome::Failure(QStringLiteral("адрес источника пуст"));
    // Blanks part the words of a source line; any other control character,
    // in a suite or a component as much as in the address, would reach the
    // request, the list and the settings.
    for (const QString& token : tokens)
        for (const QChar c : token)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return Refuse(QStringLiteral("в строке источника управляющий символ"),
                              SafeFiles::PrintableName(typed.trimmed().toStdString()));
    if (tokens.first().compare(QLatin1String("deb-src"), Qt::CaseInsensitive) == 0)
        return Refuse(QStringLiteral("строка deb-src описывает исходные тексты, а не пакеты"),
                      typed.trimmed());
    if (tokens.first().compare(QLatin1String("deb"), Qt::CaseInsensitive) == 0)
        tokens.removeFirst();
    // Options of a source line ("[arch=... trusted=yes]") say nothing about
    // where the index lies.
    if (!tokens.isEmpty() && tokens.first().startsWith(QLatin1Char('['))) {
        while (!tokens.isEmpty() && !tokens.first().endsWith(QLatin1Char(']')))
            tokens.removeFirst();
        if (!tokens.isEmpty())
            tokens.removeFirst();
    }
    if (tokens.isEmpty())
        return Refuse(QStringLiteral("в строке нет адреса"), typed.trimmed());
    const QString arch = architecture.isEmpty() ? DefaultArchitecture : architecture;
    if (tokens.size() == 1)
        return FromAddress(tokens.first(), arch, addresses);

    // A source line: URI, suite (or a flat path ending in "/"), components.
    TParts parts;
    bool hasPath = false;
    if (TOutcome split = SplitUri(tokens[0], parts, hasPath); !split)
        return split;
    const QString& suite = tokens[1];
    // "http://my host/" splits into what looks like a line whose URI has no
    // path; a real source line names its repository's folder.
    if (!hasPath || suite.contains(QLatin1String("://")))
        return Refuse(QStringLiteral("в адресе пробел, или это не строка источника"),
                      typed.trimmed());
    const QStringList components = tokens.mid(2);
    if (suite == QLatin1String(".") || suite.endsWith(QLatin1Char('/'))) {
        if (!components.isEmpty())
            return Refuse(QStringLiteral("у плоского источника (\"./\") не бывает разделов"),
                          typed.trimmed());
        QString path = suite == QLatin1String(".") ? QStringLiteral("./") : suite;
        while (path.startsWith(QLatin1Char('/')))
            path.remove(0, 1);
        while (path.contains(QLatin1String("//")))
            path.replace(QLatin1String("//"), QLatin1String("/"));
        addresses.append(Base(parts) + path + QStringLiteral("Packages"));
        return TOutcome::Success();
    }
    if (components.isEmpty())
        return Refuse(QStringLiteral("после дистрибутива нужен раздел, например main"),
                      typed.trimmed());
    for (const QString& component : components)
        addresses.append(SuiteAddress(parts, suite, component, arch));
    return TOutcome::Success();
}

bool IsHttps(const QString& address) {
    return address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

bool IsHttp(const QString& address) {
    return address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive);
}

QString WithHttps(const QString& address) {
    return QStringLiteral("https://") + IndexStore::StripScheme(address);
}

} // namespace SourceAddress
