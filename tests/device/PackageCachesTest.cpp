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
    using enum TCacheList;
    const struct {
        TCacheList List;
        QString Selected;
        QStringList Config;
        const char* Shown;  // the list afterwards, "-" when not read again
        const char* Reason; // the start of it; null when the file went
    } cases[] = {
        {Local, "a.deb", {}, "b.deb,x.deb", nullptr},
        {Local, "x.deb", {}, "a.deb,b.deb,x.deb", ""},
        {Cache, "a.deb", {"delrefuse a.deb"}, "-", "delete refused"},
        {Cache, "a.deb", {RefuseCache}, "", nullptr}, // the listing after it fails
        {AutoInstall, "../a.deb", {}, "-", "имя не годится для файла"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Selected.toStdString() + " " + c.Config.join(' ').toStdString());
        Configure(c.Config);
        const QString folder = c.List == Local   ? folders_.ArchivesDir
                               : c.List == Cache ? PhoneRoot() + CacheFolder
                                                 : PhoneRoot() + AutoFolder;
        for (const char* name : {"a.deb", "b.deb"})
            LocalFile(folder + name, name);
        ASSERT_TRUE(QDir().mkpath(folders_.ArchivesDir + "x.deb/inside"));
        TPackageChange change(phone_, folders_, TAction::Delete, c.List, c.Selected);
        change.Run();
        EXPECT_EQ(QFileInfo::exists(folder + "a.deb"), c.Reason != nullptr);
        EXPECT_TRUE(QFileInfo::exists(folder + "b.deb"));
        EXPECT_EQ(Shown(change), QString::fromUtf8(c.Shown));
        EXPECT_EQ(bool(change.Outcome()), c.Reason == nullptr);
        // A package not deleted is said, with the reason.
        EXPECT_EQ(change.Warnings().size(), c.Reason ? 1 : 0);
        if (c.Reason) {
            EXPECT_TRUE(change.Warnings().value(0).startsWith(
                "Пакет \"" + c.Selected + "\" не удалён" +
                (c.List == Local ? ": " : " с телефона: ") + c.Reason));
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
        QString Selected;
        QStringList Config;
        const char* Shown; // Cydia's cache afterwards, "-" when not read again
        QString Reason;    // why it was not sent; none when it was
    } cases[] = {
        {"pkg_1:2.0.deb", {}, "old.deb,pkg_1:2.0.deb", ""},
        {"new.deb", {"putfail new.deb"}, "old.deb", "put refused " + CacheFolder + "new.deb"},
        {"new.deb", {RefuseCache}, "-", ""}, // the listing after it fails
        // Only a regular file of the local cache is sent, never one beside
        // it or what a link points at.
        {"gone.deb", {}, "old.deb", "не обычный файл"},
        {"link.deb", {}, "old.deb", "не обычный файл"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Selected.toStdString() + " " + c.Config.join(' ').toStdString());
        Configure(c.Config);
        for (const QString& f : Entries(PhoneRoot() + CacheFolder))
            QFile::remove(PhoneRoot() + CacheFolder + f);
        LocalFile(PhoneRoot() + CacheFolder + "old.deb", "old");
        TakeCalls();
        TPackageChange change(phone_, folders_, TAction::CopyToPhone, TCacheList::Cache,
                              c.Selected);
        change.Run();
        const bool sent = c.Reason.isEmpty();
        EXPECT_EQ(PhoneBytes(CacheFolder + c.Selected),
                  sent ? LocalBytes(folders_.ArchivesDir + c.Selected) : "<missing>");
        EXPECT_EQ(Shown(change), QString::fromUtf8(c.Shown));
        // A selected package that did not arrive is said, with the reason.
        EXPECT_EQ(change.Warnings(),
                  sent ? QStringList{}
                       : QStringList{"Пакет \"" + c.Selected +
                                     "\" не отправлен на телефон: " + c.Reason + "."});
        if (c.Reason == "не обычный файл") {
            EXPECT_EQ(TakeCalls().filter(QStringLiteral("FsPutFile")), QStringList{});
        }
        EXPECT_EQ(Litter(), (QStringList{"gone.deb", "orvia.ini"}));
        EXPECT_EQ(Entries(folders_.ArchivesDir),
                  (QStringList{"link.deb", "new.deb", "pkg_1:2.0.deb"}));
    }
}
