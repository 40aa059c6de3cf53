// The program's own plugin, met as a user meets it: written by the build,
// put into the working folder as "T-Pot.dll" with its "T-Pot.ini" choosing
// the folder transport over a temporary phone root, bound by the program's
// loader and driven by the program's copies.
#include "DeviceFixture.h"

#include "device/PackageCaches.h"
#include "device/SourceSync.h"

#ifdef ORVIA_TPOT_PLUGIN

namespace {

const QString ListsFolder = QStringLiteral("/private/var/lib/apt/lists/");
const QString CacheFolder = QStringLiteral("/private/var/cache/apt/archives/");

QStringList Sorted(QStringList names) {
    names.sort();
    return names;
}

} // namespace

class OwnPluginTest : public DeviceTest {
protected:
    void SetUp() override {
        DeviceTest::SetUp();
        InstallPlugin(ORVIA_TPOT_PLUGIN);
        LocalFile(folders_.WorkDir + "T-Pot.ini",
                  "[T-Pot]\nTransport=folder\nFolder=" + PhoneRoot().toUtf8() + "\n");
        phone_.Bind(folders_.WorkDir, {});
        ASSERT_TRUE(phone_.Loaded());
    }
    // The working folder's files that the copies may not leave behind.
    QStringList CopyLitter() const {
        QStringList names = Litter();
        names.removeAll("T-Pot.ini");
        return names;
    }
};

TEST_F(OwnPluginTest, SourceListsGoBothWays) {
    PhoneFile(ListsFolder + "a_Packages", "from the phone");
    PhoneFile(ListsFolder + "Release", "not an index");
    PhoneFile(ListsFolder + "x\\y_Packages", "a name no local path may take");
    TRecordingReport report;
    TSourcesFromPhone from(phone_, folders_, TSourcesFromPhone::TTarget::ListsAndProc, stop_,
                           report);
    EXPECT_TRUE(from.Run());
    EXPECT_EQ(Entries(folders_.ListsDir), QStringList{"a_Packages"});
    EXPECT_EQ(LocalBytes(folders_.ProcDir + "a_Packages"), QByteArray("from the phone"));
    EXPECT_EQ(CopyLitter(), QStringList{});

    LocalFile(folders_.ListsDir + "a_Packages", "accepted on the computer");
    LocalFile(folders_.ListsDir + "b_Packages", "new source");
    TSourcesToPhone to(phone_, folders_, stop_, report);
    to.Run();
    EXPECT_FALSE(stop_.IsSet());
    EXPECT_EQ(PhoneBytes(ListsFolder + "a_Packages"), QByteArray("accepted on the computer"));
    EXPECT_EQ(PhoneBytes(ListsFolder + "b_Packages"), QByteArray("new source"));
    EXPECT_EQ(CopyLitter(), QStringList{});
}

TEST_F(OwnPluginTest, PackagesAreListedCopiedAndDeleted) {
    LocalFile(folders_.ArchivesDir + "app.deb", "package");
    PhoneFile(CacheFolder + "old.deb", "old");
    PhoneFile(CacheFolder + "partial", "not a package");
    ASSERT_TRUE(QDir(PhoneRoot() + "/private/var/root").removeRecursively());
    TPackageListing listing(phone_, folders_);
    listing.Run();
    EXPECT_EQ(listing.Listed(TCacheList::Cache).Names, QStringList{"old.deb"});
    // A folder the phone lacks: the plugin's own words say why.
    const QString why = listing.Listed(TCacheList::AutoInstall).Outcome.Reason;
    EXPECT_TRUE(why.startsWith("T-Pot: list ") && why.contains("AutoInstall")) << why.toStdString();

    TPackageChange copy(phone_, folders_, TPackageChange::TAction::CopyToPhone, TCacheList::Cache,
                        "app.deb");
    copy.Run();
    EXPECT_EQ(PhoneBytes(CacheFolder + "app.deb"), QByteArray("package"));
    ASSERT_TRUE(copy.Relisted());
    EXPECT_EQ(Sorted(copy.Relisted()->Names), (QStringList{"app.deb", "old.deb"}));

    TPackageChange deletion(phone_, folders_, TPackageChange::TAction::Delete, TCacheList::Cache,
                            "old.deb");
    deletion.Run();
    EXPECT_EQ(PhoneBytes(CacheFolder + "old.deb"), QByteArray("<missing>"));
    ASSERT_TRUE(deletion.Relisted());
    EXPECT_EQ(deletion.Relisted()->Names, QStringList{"app.deb"});
    EXPECT_EQ(CopyLitter(), QStringList{});
    // Gone meanwhile: the plugin's words say why it was not deleted.
    deletion.Run();
    EXPECT_EQ(deletion.Warnings().join('\n').toStdString(),
              ("Пакет \"old.deb\" не удалён с телефона: T-Pot: delete " + CacheFolder +
               "old.deb: No such file or directory.")
                  .toStdString());
}

#endif
