#pragma once

#include "base/LongOperation.h"
#include "base/WorkFolders.h"
#include "device/Phone.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// A working folder with the test plugin installed as "T-Pot.dll", a folder
// standing for the phone, and the plugin's fault settings.
class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        for (const char* sub : {"work/lists", "work/proc", "work/archives", "phone"})
            ASSERT_TRUE(QDir().mkpath(tmp_.path() + QLatin1Char('/') + QString::fromUtf8(sub)));
        folders_.WorkDir = tmp_.path() + QStringLiteral("/work/");
        folders_.ListsDir = folders_.WorkDir + QStringLiteral("lists/");
        folders_.ProcDir = folders_.WorkDir + QStringLiteral("proc/");
        folders_.ArchivesDir = folders_.WorkDir + QStringLiteral("archives/");
        for (const char* folder :
             {PhoneFolders::Lists, PhoneFolders::Cache, PhoneFolders::AutoInstall})
            ASSERT_TRUE(QDir().mkpath(PhoneRoot() + QString::fromUtf8(folder)));
        Configure({});
    }

    QString PhoneRoot() const { return tmp_.path() + QStringLiteral("/phone"); }
    QString PluginPath() const { return folders_.WorkDir + QStringLiteral("T-Pot.dll"); }
    QString LogPath() const { return tmp_.path() + QStringLiteral("/calls.log"); }

    // Puts a plugin file in the working folder as "T-Pot.dll".
    void InstallPlugin(const char* file = ORVIA_TEST_PLUGIN) {
        QFile::remove(PluginPath());
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(file), PluginPath()));
    }

    // Binds the installed test plugin.
    void BindTestPlugin() {
        InstallPlugin();
        phone_.Bind(folders_.WorkDir, {});
        ASSERT_TRUE(phone_.Loaded());
    }

    // The plugin's settings: the phone root and the call log, then Lines.
    void Configure(const QStringList& lines) {
        QStringList all{QStringLiteral("root ") + PhoneRoot(), QStringLiteral("log ") + LogPath()};
        all += lines;
        TestFiles::WriteBytes(folders_.WorkDir + QStringLiteral("TestPlugin.conf"),
                              all.join(QLatin1Char('\n')).toUtf8() + '\n');
    }

    static QString Hex(const QByteArray& name) {
        return QStringLiteral("inject ") + QString::fromLatin1(name.toHex());
    }

    // The plugin's calls so far, one per line; the log starts again.
    QStringList TakeCalls() {
        QFile file(LogPath());
        QStringList calls;
        if (file.open(QIODevice::ReadOnly))
            calls = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        file.close();
        QFile::remove(LogPath());
        return calls;
    }

    void PhoneFile(const QString& path, const QByteArray& bytes) const {
        TestFiles::WriteBytes(PhoneRoot() + path, bytes);
    }
    QByteArray PhoneBytes(const QString& path) const {
        return TestFiles::ReadBytes(PhoneRoot() + path);
    }
    void LocalFile(const QString& path, const QByteArray& bytes) const {
        TestFiles::WriteBytes(path, bytes);
    }
    static QByteArray LocalBytes(const QString& path) { return TestFiles::ReadBytes(path); }

    // Sorted entries of a folder, sub-folders marked with a trailing "/".
    static QStringList Entries(const QString& folder) {
        QStringList names;
        for (const QFileInfo& info : QDir(folder).entryInfoList(
                 QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System, QDir::Name))
            names << info.fileName() + (info.isDir() ? QStringLiteral("/") : QString());
        return names;
    }
    // The working folder's own files, without the sub-folders, the plugin and
    // its settings: what a copy may leave behind.
    QStringList Litter() const {
        QStringList names = Entries(folders_.WorkDir);
        for (const char* own : {"archives/", "lists/", "proc/", "T-Pot.dll", "TestPlugin.conf"})
            names.removeAll(QString::fromUtf8(own));
        return names;
    }

    QTemporaryDir tmp_;
    TWorkFolders folders_;
    TPhone phone_;
    TStopFlag stop_;
};

// Records what a phone copy reports, in order; OnItem acts when it turns to
// a file (a Stop press queued there arrives while that file is under way).
struct TRecordingReport final : TOperationReport {
    void Busy(bool on) override { Events.push_back(on ? "busy on" : "busy off"); }
    void ItemStarted(int index) override {
        if (OnItem)
            OnItem(index);
    }
    void Progress(int percent) override {
        Percents.push_back(percent);
        Events.push_back("progress " + std::to_string(percent));
    }

    std::vector<std::string> Events;
    std::vector<int> Percents;
    std::function<void(int index)> OnItem;
};
