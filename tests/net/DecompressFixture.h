#pragma once

// What the decompressor tests share: sample indexes, their compressed forms
// and a scratch folder whose every entry can be listed.

#include "archive/FileTools.h"
#include "support/Archives.h"
#include "support/Files.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace FileTools;
using TestFiles::ReadBytes;
using TestFiles::WriteBytes;

inline const QByteArray Missing = "<missing>";

// Stanzas of an index; 2000 make some 120 kB.
inline QByteArray SampleText(int stanzas = 2000) {
    QByteArray text;
    for (int i = 0; i < stanzas; ++i)
        text += "Package: com.example.p" + QByteArray::number(i) + "\nVersion: 1." +
                QByteArray::number(i % 7) + "\nSection: Tweaks\n\n";
    return text;
}

inline QByteArray Bzip2(const QByteArray& data, int level = 9) {
    return QByteArray::fromStdString(TestArchives::Bzip2(data.toStdString(), level));
}

inline QByteArray Compress(TCompression kind, const QByteArray& data) {
    const std::string bytes = data.toStdString();
    return QByteArray::fromStdString(kind == TCompression::Bzip2 ? TestArchives::Bzip2(bytes)
                                     : kind == TCompression::Xz  ? TestArchives::Xz(bytes)
                                                                 : TestArchives::Zstd(bytes));
}

class DecompressTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return dir.filePath(name); }
    QStringList Entries() const { return TestFiles::Entries(dir.path()); }
    QTemporaryDir dir;
};
