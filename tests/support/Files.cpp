#include "support/Files.h"

#include "base/Utf8Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstring>

#include <dirent.h>

namespace TestFiles {

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size()) << path.toStdString();
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList Entries(const QString& folder) {
    QStringList names;
    DIR* d = ::opendir(QFile::encodeName(folder).constData());
    EXPECT_NE(d, nullptr) << folder.toStdString();
    while (const dirent* e = d ? ::readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names << Utf8Text::Decode(e->d_name);
    if (d)
        ::closedir(d);
    names.sort();
    return names;
}

std::string Pattern(std::size_t size, char seed) {
    std::string s(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>(seed + i % 19);
    return s;
}

std::string Digest(const std::string& bytes, QCryptographicHash::Algorithm algorithm) {
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), algorithm)
        .toHex()
        .toStdString();
}

} // namespace TestFiles
