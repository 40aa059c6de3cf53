#include "DeviceFixture.h"

#include "device/PackageCaches.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

using TAction = TPackageChange::TAction;
const QString CacheFolder = QStringLiteral("/private/var/cache/apt/archives/");
const QString AutoFolder = QStringLiteral("/private/var/root/Media/Cydia/AutoInstall/");
const QString RefuseCache = QStringLiteral("refuse /private/var/cache/apt/archives");

QString Sorted(QStringList names) {
    names.sort();
    return names.join(',');
}

// The list as read again after a change, or "-" when it was not.
QString Shown(const TPackageChange& change) {
    return change.Relisted() ? Sorted(change.Relisted()->Names) : QStringLiteral("-");
}

} // namespace

TEST_F(DeviceTest, ListingFillsTheThreeListsWithPackages) {
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

    TPackageListing listing(phone_, folders_);
    listing.Run();
    EXPECT_EQ(Sorted(listing.Listed(TCacheList::Local).Names), "B.DEB,a.deb,x.deb");
    EXPECT_EQ(Sorted(listing.Listed(TCacheList::Cache).Names), "p.deb,s.deb");
    EXPECT_EQ(Sorted(listing.Listed(TCacheList::AutoInstall).Names), "z.deb");
    // Left out with a warning naming each: made printable, with the reason.
    ASSERT_EQ(listing.Warnings().size(), 1);
    const QString warning = listing.Warnings().front();
    for (const char* part : {"t\\x09ab.deb", "кэша", "caf", "n\\x0al.deb"})
        EXPECT_TRUE(warning.contains(QString::fromUtf8(part))) << part;
    EXPECT_FALSE(warning.contains(QLatin1Char('\t')));
}

TEST_F(DeviceTest, DeletingRemovesTheFileAndReadsItsListAgain) {
    BindTestPlugin();
    const struct {
        const char* Name;
        TCacheList List;
        QString Selected;
        QStringList Config;
        bool Removed;
        const char* Shown; // the list afterwards, "-" when not read again
        QString Warning;
    } cases[] = {
        {"local", TCacheList::Local, "a.deb", {}, true, "b.deb,x.deb", ""},
        {"local, a folder",
         TCacheList::Local,
         "x.deb",
         {},
         false,
         "a.deb,b.deb,x.deb",
         "Пакет \"x.deb\" не удалён: "},
        {"cache, refused",
         TCacheList::Cache,
         "a.deb",
         {"delrefuse a.deb"},
         false,
         "-",
         "Пакет \"a.deb\" не удалён с телефона: delete refused " + CacheFolder + "a.deb."},
        {"cache, listing fails after", TCacheList::Cache, "a.deb", {RefuseCache}, true, "", ""},
        {"auto-install, not a file name",
         TCacheList::AutoInstall,
         "../a.deb",
         {},
         false,
         "-",
         "Пакет \"../a.deb\" не удалён с телефона: имя не годится для файла."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Configure(c.Config);
        const QString folder = c.List == TCacheList::Local   ? folders_.ArchivesDir
                               : c.List == TCacheList::Cache ? PhoneRoot() + CacheFolder
                                                             : PhoneRoot() + AutoFolder;
        for (const char* name : {"a.deb", "b.deb"})
            LocalFile(folder + name, name);
        ASSERT_TRUE(QDir().mkpath(folders_.ArchivesDir + "x.deb/inside"));
        TPackageChange change(phone_, folders_, TAction::Delete, c.List, c.Selected);
        change.Run();
        EXPECT_EQ(QFileInfo::exists(folder + "a.deb"), !c.Removed);
        EXPECT_TRUE(QFileInfo::exists(folder + "b.deb"));
        EXPECT_EQ(Shown(change), QString::fromUtf8(c.Shown));
        EXPECT_EQ(bool(change.Outcome()), c.Warning.isEmpty());
        if (!c.Warning.isEmpty()) {
            ASSERT_EQ(change.Warnings().size(), 1);
            EXPECT_TRUE(change.Warnings()[0].startsWith(c.Warning));
        } else {
            EXPECT_EQ(change.Warnings(), QStringList{});
        }
    }
}

TEST_F(DeviceTest, CopyingSendsTheSelectedLocalPackage) {
    BindTestPlugin();
    LocalFile(folders_.ArchivesDir + "new.deb", "package bytes");
    LocalFile(folders_.ArchivesDir + "pkg_1:2.0.deb", "epoch package");
    LocalFile(folders_.WorkDir + "orvia.ini", "[Settings]\n");
    LocalFile(folders_.WorkDir + "gone.deb", "a file of the working folder");
    ASSERT_TRUE(QFile::link(folders_.WorkDir + "orvia.ini", folders_.ArchivesDir + "link.deb"));
    const struct {
        const char* Name;
        TCacheList List;
        QString Selected;
        QStringList Config;
        const char* Shown;  // the list afterwards, "-" when not read again
        const char* Reason; // why it was not sent; "" when it was
    } cases[] = {
        {"a name with a colon",
         TCacheList::Cache,
         "pkg_1:2.0.deb",
         {},
         "old.deb,pkg_1:2.0.deb",
         ""},
        {"put fails",
         TCacheList::Cache,
         "new.deb",
         {"putfail new.deb"},
         "old.deb",
         "put refused /private/var/cache/apt/archives/new.deb"},
        {"listing fails after the copy", TCacheList::Cache, "new.deb", {RefuseCache}, "-", ""},
        // Only a regular file of the local cache is sent, never one beside
        // it or what a link points at.
        {"not in the cache", TCacheList::Cache, "gone.deb", {}, "old.deb", "не обычный файл"},
        {"a link", TCacheList::Cache, "link.deb", {}, "old.deb", "не обычный файл"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Configure(c.Config);
        for (const QString& folder : {PhoneRoot() + CacheFolder, PhoneRoot() + AutoFolder}) {
            for (const QString& f : Entries(folder))
                QFile::remove(folder + f);
            LocalFile(folder + "old.deb", "old");
        }
        TakeCalls();
        TPackageChange change(phone_, folders_, TAction::CopyToPhone, c.List, c.Selected);
        change.Run();
        const QString remote =
            PhoneRoot() + (c.List == TCacheList::Cache ? CacheFolder : AutoFolder) + c.Selected;
        const bool sent = !*c.Reason;
        EXPECT_EQ(TestFiles::ReadBytes(remote),
                  sent ? LocalBytes(folders_.ArchivesDir + c.Selected) : "<missing>");
        EXPECT_EQ(Shown(change), QString::fromUtf8(c.Shown));
        // A selected package that did not arrive is said, with the reason.
        EXPECT_EQ(change.Warnings(),
                  sent ? QStringList{}
                       : QStringList{"Пакет \"" + c.Selected +
                                     "\" не отправлен на телефон: " + c.Reason + "."});
        if (c.Selected == "link.deb" || c.Selected == "gone.deb") {
            EXPECT_EQ(TakeCalls().filter(QStringLiteral("FsPutFile")), QStringList{});
        }
        EXPECT_EQ(Litter(), (QStringList{"gone.deb", "orvia.ini"}));
        EXPECT_EQ(Entries(folders_.ArchivesDir),
                  (QStringList{"link.deb", "new.deb", "pkg_1:2.0.deb"}));
    }
}
