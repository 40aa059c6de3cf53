#include "DeviceFixture.h"

#include "device/PackageCaches.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using TList = TDeviceView::TList;
const QString CacheFolder = QStringLiteral("/private/var/cache/apt/archives/");
const QString AutoFolder = QStringLiteral("/private/var/root/Media/Cydia/AutoInstall/");
const QString RefuseCache = QStringLiteral("refuse /private/var/cache/apt/archives");

// The list as shown again, or "-" when it was not.
QString Shown(TRecordingView& view, TList list) {
    return view.lists.count(list) ? view.lists[list].join(',') : QStringLiteral("-");
}

} // namespace

TEST_F(DeviceTest, CacheRefreshFillsTheThreeListsWithPackages) {
    BindTestPlugin();
    for (const char* name : {"a.deb", "B.DEB", "c.txt"})
        LocalFile(folders_.ArchivesDir + name, name);
    ASSERT_TRUE(QDir().mkpath(folders_.ArchivesDir + "x.deb"));
    // Stored under a name that is not UTF-8: it could never be named to be sent.
    const QByteArray latin1 = QFile::encodeName(folders_.ArchivesDir) + "caf\xe9.deb";
    const int fd = ::open(latin1.constData(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    for (const char* name : {"p.deb", "Q.DEB", "r.txt"})
        PhoneFile(CacheFolder + name, name);
    ASSERT_TRUE(QDir().mkpath(PhoneRoot() + CacheFolder + "s.deb"));
    PhoneFile(AutoFolder + "z.deb", "z");
    Configure({Hex("../up.deb"), Hex("a/b.deb"), Hex("\xff.deb"), Hex(".deb/.."), Hex("t\tab.deb"),
               Hex("n\nl.deb")});

    TRecordingView view;
    view.lists[TList::Cache] = QStringList{"stale.deb"};
    PackageCaches::CacheRefresh(phone_, folders_, view);
    EXPECT_EQ(view.lists[TList::Local], (QStringList{"B.DEB", "a.deb", "x.deb"}));
    EXPECT_EQ(view.lists[TList::Cache], (QStringList{"p.deb", "s.deb"}));
    EXPECT_EQ(view.lists[TList::AutoInstall], QStringList{"z.deb"});
    EXPECT_EQ(view.events.front(), "caption UpdatingFileLists");
    EXPECT_EQ(view.events[1], "list 0 ");
    EXPECT_EQ(view.events.back(), "caption Idle");
    EXPECT_EQ(view.pumps, 1);
    // Left out with a warning naming each: made printable, with the reason.
    ASSERT_EQ(view.warnings.size(), 1);
    EXPECT_TRUE(view.warnings.front().contains(QStringLiteral("t\\x09ab.deb")));
    EXPECT_TRUE(view.warnings.front().contains(QStringLiteral("кэша")));
    EXPECT_TRUE(view.warnings.front().contains(QStringLiteral("caf")));
    EXPECT_TRUE(view.warnings.front().contains(QStringLiteral("n\\x0al.deb")));
    EXPECT_FALSE(view.warnings.front().contains(QLatin1Char('\t')));

    // No phone: the phone lists come out empty, the local one still fills.
    Configure({"init fail"});
    TRecordingView noPhone;
    PackageCaches::CacheRefresh(phone_, folders_, noPhone);
    EXPECT_EQ(noPhone.lists[TList::Local].size(), 3);
    EXPECT_EQ(noPhone.lists[TList::Cache], QStringList{});
    EXPECT_EQ(noPhone.lists[TList::AutoInstall], QStringList{});
}

TEST_F(DeviceTest, DeletingAskesFirstAndNeedsASelectedLine) {
    BindTestPlugin();
    const struct {
        const char* Name;
        TList List;
        QString Selected;
        bool Answer;
        QStringList Config;
        bool Removed;
        const char* Shown; // the list afterwards, "-" when not shown again
    } cases[] = {
        {"local, none selected", TList::Local, "", true, {}, false, "-"},
        {"local, No", TList::Local, "a.deb", false, {}, false, "-"},
        {"local, Yes", TList::Local, "a.deb", true, {}, true, "b.deb"},
        {"cache, none selected", TList::Cache, "", true, {}, false, "-"},
        {"cache, No", TList::Cache, "a.deb", false, {}, false, "-"},
        {"cache, Yes", TList::Cache, "a.deb", true, {}, true, "b.deb"},
        {"cache, refused", TList::Cache, "a.deb", true, {"delrefuse a.deb"}, false, "-"},
        {"cache, listing fails after", TList::Cache, "a.deb", true, {RefuseCache}, true, ""},
        {"autoinstall, Yes", TList::AutoInstall, "a.deb", true, {}, true, "b.deb"},
        {"autoinstall, not a file name", TList::AutoInstall, "../a.deb", true, {}, false, "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Configure(c.Config);
        const QString folder = c.List == TList::Local   ? folders_.ArchivesDir
                               : c.List == TList::Cache ? PhoneRoot() + CacheFolder
                                                        : PhoneRoot() + AutoFolder;
        for (const char* name : {"a.deb", "b.deb"})
            LocalFile(folder + name, name);
        TRecordingView view;
        view.selected[c.List] = c.Selected;
        view.answer = c.Answer;
        if (c.List == TList::Local)
            PackageCaches::DeleteLocal(folders_, view);
        else
            PackageCaches::DeleteOnPhone(phone_, c.List, view);
        EXPECT_EQ(view.questions, c.Selected.isEmpty()
                                      ? QStringList{}
                                      : QStringList{"Удалить пакет " + c.Selected + "?"});
        EXPECT_EQ(QFileInfo::exists(folder + "a.deb"), !c.Removed);
        EXPECT_TRUE(QFileInfo::exists(folder + "b.deb"));
        EXPECT_EQ(Shown(view, c.List), QString::fromUtf8(c.Shown));
        // A phone deletion that was asked for and did not happen is said.
        const bool refused =
            c.List != TList::Local && !c.Selected.isEmpty() && c.Answer && !c.Removed;
        EXPECT_EQ(view.warnings.size(), refused ? 1 : 0);
        if (c.List != TList::Local && !c.Selected.isEmpty() && c.Answer) {
            EXPECT_EQ(view.events.back(), "caption Idle");
        }
        if (c.List == TList::Local || !c.Answer) {
            EXPECT_EQ(view.pumps, 0);
        }
    }
}

TEST_F(DeviceTest, CopyingSendsTheSelectedLocalPackage) {
    BindTestPlugin();
    LocalFile(folders_.ArchivesDir + "new.deb", "package bytes");
    LocalFile(folders_.ArchivesDir + "pkg_1:2.0.deb", "epoch package");
    const struct {
        const char* Name;
        TList List;
        QString Selected;
        QStringList Config;
        QString Remote;    // where the package must be, or empty when nothing was sent
        const char* Shown; // the list afterwards, "-" when not shown again
    } cases[] = {
        {"to the cache", TList::Cache, "new.deb", {}, CacheFolder + "new.deb", "new.deb,old.deb"},
        {"to auto-install",
         TList::AutoInstall,
         "new.deb",
         {},
         AutoFolder + "new.deb",
         "new.deb,old.deb"},
        {"a name with a colon",
         TList::Cache,
         "pkg_1:2.0.deb",
         {},
         CacheFolder + "pkg_1:2.0.deb",
         "old.deb,pkg_1:2.0.deb"},
        {"put fails", TList::Cache, "new.deb", {"putfail new.deb"}, "", "old.deb"},
        {"listing fails after the copy",
         TList::Cache,
         "new.deb",
         {RefuseCache},
         CacheFolder + "new.deb",
         "-"},
        {"none selected", TList::Cache, "", {}, "", "-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Configure(c.Config);
        for (const QString& folder : {PhoneRoot() + CacheFolder, PhoneRoot() + AutoFolder}) {
            for (const QString& f : Entries(folder))
                QFile::remove(folder + f);
            LocalFile(folder + "old.deb", "old");
        }
        TRecordingView view;
        view.selected[TList::Local] = c.Selected;
        PackageCaches::CopyToPhone(phone_, folders_, c.List, view);
        EXPECT_TRUE(view.questions.isEmpty());
        if (!c.Remote.isEmpty()) {
            EXPECT_EQ(PhoneBytes(c.Remote), LocalBytes(folders_.ArchivesDir + c.Selected));
        } else {
            EXPECT_EQ(Entries(PhoneRoot() + CacheFolder), QStringList{"old.deb"});
        }
        EXPECT_EQ(Shown(view, c.List), QString::fromUtf8(c.Shown));
        // A selected package that did not arrive is said.
        EXPECT_EQ(view.warnings,
                  !c.Selected.isEmpty() && c.Remote.isEmpty()
                      ? QStringList{"Пакет \"" + c.Selected + "\" не отправлен на телефон."}
                      : QStringList{});
        EXPECT_EQ(Litter(), QStringList{});
        EXPECT_EQ(Entries(folders_.ArchivesDir), (QStringList{"new.deb", "pkg_1:2.0.deb"}));
    }
}

TEST_F(DeviceTest, OnlyARegularFileOfTheLocalCacheIsSent) {
    BindTestPlugin();
    LocalFile(folders_.WorkDir + "orvia.ini", "[Settings]\n");
    LocalFile(folders_.WorkDir + "gone.deb", "a file of the working folder");
    ASSERT_TRUE(QFile::link(folders_.WorkDir + "orvia.ini", folders_.ArchivesDir + "link.deb"));
    for (const char* selected : {"gone.deb", "link.deb"}) {
        SCOPED_TRACE(selected);
        TRecordingView view;
        view.selected[TList::Local] = selected;
        PackageCaches::CopyToPhone(phone_, folders_, TList::Cache, view);
        EXPECT_EQ(PhoneBytes(CacheFolder + selected), QByteArray("<missing>"));
        EXPECT_EQ(TakeCalls().filter(QStringLiteral("FsPutFile")), QStringList{});
    }
}
