#include "DeviceFixture.h"

#include "device/PluginBinding.h"

#include <QCoreApplication>
#include <QTimer>

#include <functional>

namespace {

QByteArray FileBytes(const char* path) {
    return TestFiles::ReadBytes(QString::fromUtf8(path));
}

int Bound(const TPluginEntries& e) {
    return (e.FsInit != nullptr) + (e.FsFindFirst != nullptr) + (e.FsFindNext != nullptr) +
           (e.FsFindClose != nullptr) + (e.FsGetFile != nullptr) + (e.FsPutFile != nullptr) +
           (e.FsDeleteFile != nullptr);
}

} // namespace

TEST_F(DeviceTest, BindingTakesWhatTheLibraryOffersAndNeverReplacesIt) {
    const struct {
        const char* Name;
        const char* Installed; // file put there as "T-Pot.dll", "" a folder, null none
        QByteArray Carried;    // what the program carries
        int Entries;           // 6: all but FsDeleteFile
        QByteArray FileAfter;
    } cases[] = {
        {"no library, nothing carried", nullptr, {}, 0, "<missing>"},
        {"not a library", nullptr, "text", 0, "text"},
        {"carried when missing", nullptr, FileBytes(ORVIA_TEST_PLUGIN), 7,
         FileBytes(ORVIA_TEST_PLUGIN)},
        {"existing kept over the carried one", ORVIA_TEST_PLUGIN_WITHOUT_DELETE,
         FileBytes(ORVIA_TEST_PLUGIN), 6, FileBytes(ORVIA_TEST_PLUGIN_WITHOUT_DELETE)},
        {"a folder in its place", "", FileBytes(ORVIA_TEST_PLUGIN), 0, "<missing>"},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        // A library the loader keeps resident (as the C++ runtime may make it)
        // would be handed back for the same path: each case binds in a folder
        // of its own, as each run of the program does.
        folders_.WorkDir = tmp_.path() + QStringLiteral("/bind%1/").arg(++round);
        ASSERT_TRUE(QDir().mkpath(folders_.WorkDir));
        PlacePhone(PhoneRoot(), folders_.WorkDir, tmp_.path() + QStringLiteral("/calls.log"));
        const bool folder = c.Installed && !*c.Installed;
        if (folder)
            ASSERT_TRUE(QDir().mkpath(PluginPath()));
        else if (c.Installed)
            InstallPlugin(c.Installed);
        phone_.Bind(folders_.WorkDir, std::string_view(c.Carried.constData(), c.Carried.size()));
        EXPECT_EQ(LocalBytes(PluginPath()), c.FileAfter);
        EXPECT_EQ(Bound(phone_.Entries()), c.Entries);
        EXPECT_EQ(TakeCalls(), QStringList()); // binding calls nothing
        // A folder is left alone; no temporary file stays beside the plugin.
        EXPECT_EQ(Litter(), folder ? QStringList{"T-Pot.dll/"} : QStringList{});

        // Whatever is missing, the operations answer false and never crash.
        PhoneFile(QStringLiteral("/private/var/cache/apt/archives/a.deb"), "deb");
        std::vector<std::string> list{"kept"};
        const TOutcome listed = phone_.iPhone_ls(PhoneFolders::Cache, list);
        EXPECT_EQ(listed.Reason, c.Entries == 0 ? "телефон не подключён" : "");
        EXPECT_EQ(phone_.iPhone_del("/private/var/cache/apt/archives/a.deb").Reason,
                  c.Entries == 7 ? "" : "телефон не подключён");
        if (c.Entries == 0) {
            EXPECT_EQ(list, std::vector<std::string>{"kept"}); // untouched without a plugin
        }
        TakeCalls();
        phone_.Release();
        EXPECT_FALSE(phone_.Loaded());
        EXPECT_EQ(Bound(phone_.Entries()), 0);
    }
}

TEST_F(DeviceTest, ListingGivesEveryNameInThePluginsOrderAfterFsInit) {
    BindTestPlugin();
    PhoneFile(QStringLiteral("/private/var/cache/apt/archives/b.deb"), "b");
    PhoneFile(QStringLiteral("/private/var/cache/apt/archives/a.txt"), "a");
    std::vector<std::string> list{"old"};
    ASSERT_TRUE(phone_.iPhone_ls(PhoneFolders::Cache, list));
    EXPECT_EQ(list, (std::vector<std::string>{".", "..", "a.txt", "b.deb"}));
    EXPECT_EQ(TakeCalls(),
              (QStringList{"FsInit 0 progress", "FsFindFirst /private/var/cache/apt/archives",
                           "FsFindClose"}));

    // Cut at the name field (a folder holding nothing but "." and "..", and
    // a long name) and at the count limit.
    Configure({Hex(QByteArray(300, 'n'))});
    ASSERT_TRUE(phone_.iPhone_ls(PhoneFolders::AutoInstall, list));
    EXPECT_EQ(list, (std::vector<std::string>{".", "..", std::string(MAX_PATH, 'n')}));
    Configure({QStringLiteral("endless")});
    TakeCalls();
    ASSERT_TRUE(phone_.iPhone_ls(PhoneFolders::AutoInstall, list));
    EXPECT_EQ(list.size(), TPhone::MaxListing);
    EXPECT_EQ(TakeCalls().last(), QStringLiteral("FsFindClose"));
}

TEST_F(DeviceTest, TransfersUseTheLocalFileTheCallerNames) {
    BindTestPlugin();
    const QString local = folders_.WorkDir + QStringLiteral("download.list");
    const QString phonePath = QStringLiteral("/private/var/lib/apt/lists/x_Packages");
    const std::string remote = phonePath.toStdString();

    PhoneFile(phonePath, "from phone");
    LocalFile(local, "older file");
    ASSERT_TRUE(phone_.iPhone_get(remote, local));
    EXPECT_EQ(LocalBytes(local), QByteArray("from phone"));
    EXPECT_EQ(TakeCalls(),
              (QStringList{"FsInit 0 progress", "FsGetFile " + phonePath + " " + local + " 1"}));

    LocalFile(local, "to phone");
    ASSERT_TRUE(phone_.iPhone_put(local, remote));
    EXPECT_EQ(PhoneBytes(phonePath), QByteArray("to phone"));
    EXPECT_EQ(LocalBytes(local), QByteArray("to phone")); // left for the caller
    EXPECT_EQ(TakeCalls(),
              (QStringList{"FsInit 0 progress", "FsPutFile " + local + " " + phonePath + " 1"}));

    ASSERT_TRUE(phone_.iPhone_del(remote));
    EXPECT_EQ(PhoneBytes(phonePath), QByteArray("<missing>"));
}

// A failure says why: the plugin's words when it logged any, else ours naming
// the phone file. A failed listing leaves the list empty.
TEST_F(DeviceTest, FailuresSayWhy) {
    BindTestPlugin();
    const QString local = folders_.WorkDir + QStringLiteral("download.list");
    const QString path = QStringLiteral("/private/var/lib/apt/lists/x_Packages");
    const std::string remote = path.toStdString();
    const auto ls = [this](const char* folder) {
        return [this, folder] {
            std::vector<std::string> list{"old"};
            const TOutcome listed = phone_.iPhone_ls(folder, list);
            EXPECT_TRUE(list.empty());
            return listed;
        };
    };
    // Put does not look for the local file: the plugin's answer decides.
    const auto get = [&] { return phone_.iPhone_get(remote, local); };
    const auto put = [&] { return phone_.iPhone_put(local, remote); };
    const auto del = [&] { return phone_.iPhone_del(remote); };
    const auto getToNothing = [&] { return phone_.iPhone_get(remote, {}); };
    const auto putNothing = [&] { return phone_.iPhone_put({}, remote); };
    const QString cache = QString::fromUtf8(PhoneFolders::Cache);
    const struct {
        QStringList Config;
        std::function<TOutcome()> Call;
        int Calls;
        QString Reason;
    } failures[] = {
        {{"init fail"}, ls(PhoneFolders::Cache), 1, "телефон не подключён (cannot reach)"},
        {{"refuse " + cache}, ls(PhoneFolders::Cache), 2, "refused " + cache},
        {{}, ls("/nowhere"), 2, "телефон не выдал список папки /nowhere"},
        {{}, get, 2, "телефон не выдал файл " + path},
        {{}, put, 2, "телефон не принял файл " + path},
        {{}, del, 2, "телефон не удалил файл " + path},
        {{"getfail x_Packages"}, get, 2, "get refused " + path},
        {{"putfail x_Packages"}, put, 2, "put refused " + path},
        {{"delrefuse x_Packages"}, del, 2, "delete refused " + path},
        {{"init fail"}, put, 1, "телефон не подключён (cannot reach)"},
        // No local file named: refused before the plugin is asked.
        {{}, getToNothing, 0, "не указан файл для копии с телефона"},
        {{}, putNothing, 0, "не указан файл для отправки на телефон"},
    };
    for (const auto& f : failures) {
        SCOPED_TRACE(f.Reason.toStdString());
        Configure(f.Config);
        EXPECT_EQ(f.Call().Reason, f.Reason);
        EXPECT_EQ(TakeCalls().size(), f.Calls);
    }
}

TEST_F(DeviceTest, OperationsStartedWhileOneWaitsRunAfterIt) {
    BindTestPlugin();
    PhoneFile(QStringLiteral("/private/var/lib/apt/lists/x_Packages"), "x");
    // The window keeps handling events while a call runs; an operation
    // started from one of those events must not overlap the running one.
    bool nestedRan = false;
    std::vector<std::string> nested;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] { nestedRan = bool(phone_.iPhone_ls(PhoneFolders::Lists, nested)); },
        Qt::QueuedConnection);
    const QString local = folders_.WorkDir + QStringLiteral("download.list");
    ASSERT_TRUE(phone_.iPhone_get("/private/var/lib/apt/lists/x_Packages", local));
    QCoreApplication::processEvents();
    EXPECT_TRUE(nestedRan);
    // Each operation is whole, FsInit directly before its own calls, in
    // whichever order the two reached the plugin.
    const QStringList get{"FsInit 0 progress",
                          "FsGetFile /private/var/lib/apt/lists/x_Packages " + local + " 1"};
    const QStringList ls{"FsInit 0 progress", "FsFindFirst /private/var/lib/apt/lists",
                         "FsFindClose"};
    const QStringList calls = TakeCalls();
    EXPECT_TRUE(calls == get + ls || calls == ls + get) << calls.join('\n').toStdString();
}

TEST_F(DeviceTest, InterruptEndsACopyInProgressAndTheNextOneRunsAfresh) {
    BindTestPlugin();
    Configure({QStringLiteral("slowget x_Packages")});
    const QString phonePath = QStringLiteral("/private/var/lib/apt/lists/x_Packages");
    const QString local = folders_.WorkDir + QStringLiteral("x_Packages");
    PhoneFile(phonePath, "from phone");
    // Arrives while the worker copies, as a Stop press or a close would.
    QTimer::singleShot(0, [this] { phone_.Interrupt(); });
    EXPECT_FALSE(phone_.iPhone_get(phonePath.toStdString(), local));
    EXPECT_TRUE(TakeCalls().contains(QStringLiteral("stopped")));
    Configure({});
    EXPECT_TRUE(phone_.iPhone_get(phonePath.toStdString(), local));
    EXPECT_EQ(LocalBytes(local), QByteArray("from phone"));
}
