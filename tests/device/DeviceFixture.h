#pragma once

#include "base/LongOperation.h"
#include "base/WorkFolders.h"
#include "device/Phone.h"
#include "support/FakePhone.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A working folder with the test plugin installed as "T-Pot.dll" and the
// phone it reaches.
class DeviceTest : public ::testing::Test, protected TTestPluginPhone {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp_.isValid());
        for (const char* sub : {"work/lists", "work/proc", "work/archives"})
            ASSERT_TRUE(QDir().mkpath(tmp_.path() + QLatin1Char('/') + QString::fromUtf8(sub)));
        folders_.WorkDir = tmp_.path() + QStringLiteral("/work/");
        folders_.ListsDir = folders_.WorkDir + QStringLiteral("lists/");
        folders_.ProcDir = folders_.WorkDir + QStringLiteral("proc/");
        folders_.ArchivesDir = folders_.WorkDir + QStringLiteral("archives/");
        PlacePhone(tmp_.path() + QStringLiteral("/phone"), folders_.WorkDir,
                   tmp_.path() + QStringLiteral("/calls.log"));
    }

    QString PluginPath() const { return folders_.WorkDir + QStringLiteral("T-Pot.dll"); }

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

    void LocalFile(const QString& path, const QByteArray& bytes) const {
        TestFiles::WriteBytes(path, bytes);
    }
    static QByteArray LocalBytes(const QString& path) { return TestFiles::ReadBytes(path); }

    // Sorted entries of a folder, sub-folders marked with a trailing "/";
    // names that are not UTF-8 are listed too.
    static QStringList Entries(const QString& folder) {
        QStringList names = TestFiles::Entries(folder);
        for (QString& name : names)
            if (QFileInfo(folder + QLatin1Char('/') + name).isDir())
                name += QLatin1Char('/');
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

// Records what a phone copy reports, in order.
struct TRecordingReport final : TOperationReport {
    void Busy(bool on) override { Events.push_back(on ? "busy on" : "busy off"); }
    void ItemStarted(int) override {}
    void Progress(int percent) override {
        Percents.push_back(percent);
        Events.push_back("progress " + std::to_string(percent));
    }

    std::vector<std::string> Events;
    std::vector<int> Percents;
};
