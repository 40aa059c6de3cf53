#pragma once

#include "base/PhoneFolders.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

// The phone as the test plugin sees it: a folder standing for the phone's
// file system, the plugin's settings (where its faults are chosen) in the
// working folder, and the log of the calls it was given.
class TTestPluginPhone {
protected:
    void PlacePhone(const QString& root, const QString& workDir, const QString& log) {
        root_ = root;
        conf_ = workDir + QStringLiteral("TestPlugin.conf");
        log_ = log;
        for (const char* folder :
             {PhoneFolders::Lists, PhoneFolders::Cache, PhoneFolders::AutoInstall})
            ASSERT_TRUE(QDir().mkpath(root_ + QString::fromUtf8(folder)));
        Configure({});
    }

    QString PhoneRoot() const { return root_; }

    // The plugin's settings: the phone root and the call log, then Lines.
    void Configure(const QStringList& lines) const {
        const QStringList all =
            QStringList{QStringLiteral("root ") + root_, QStringLiteral("log ") + log_} + lines;
        TestFiles::WriteBytes(conf_, all.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    // A name, given as hex, that ends every listing.
    static QString Hex(const QByteArray& name) {
        return QStringLiteral("inject ") + QString::fromLatin1(name.toHex());
    }

    // The plugin's calls so far, one per line; the log starts again.
    QStringList TakeCalls() const {
        QFile file(log_);
        QStringList calls;
        if (file.open(QIODevice::ReadOnly))
            calls = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        file.close();
        QFile::remove(log_);
        return calls;
    }

    void PhoneFile(const QString& path, const QByteArray& bytes) const {
        TestFiles::WriteBytes(root_ + path, bytes);
    }
    QByteArray PhoneBytes(const QString& path) const { return TestFiles::ReadBytes(root_ + path); }
    QStringList PhoneFiles(const QString& folder) const {
        return QDir(root_ + folder).entryList(QDir::Files, QDir::Name);
    }

private:
    QString root_, conf_, log_;
};
