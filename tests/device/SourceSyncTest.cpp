#include "DeviceFixture.h"

#include "device/SourceSync.h"

namespace {

using TTarget = TSourcesFromPhone::TTarget;
const QString ListsFolder = QStringLiteral("/private/var/lib/apt/lists/");

using TEvents = std::vector<std::string>;

void Empty(const QString& folder) {
    for (const QString& f : QDir(folder).entryList(QDir::Files))
        QFile::remove(folder + f);
}

// "name" for a file that went well, "name: reason" for one that did not.
QStringList Described(const std::vector<TFileOutcome>& outcomes) {
    QStringList lines;
    for (const TFileOutcome& file : outcomes)
        lines << (file.Outcome ? file.Name : file.Name + ": " + file.Outcome.Reason);
    return lines;
}

} // namespace

TEST_F(DeviceTest, FromPhoneCopiesOnlyIndexFilesIntoTheirFolders) {
    BindTestPlugin();
    for (const char* name : {"a_Packages", "b_packages", "c_Packages", "Release", "lock"})
        PhoneFile(ListsFolder + QString::fromUtf8(name), QByteArray("phone ") + name);
    ASSERT_TRUE(QDir().mkpath(PhoneRoot() + ListsFolder + QStringLiteral("partial")));

    const struct {
        const char* Name;
        TTarget Target;
        QStringList Proc;
    } cases[] = {
        {"button", TTarget::ListsAndProc, {"a_Packages", "c_Packages", "old_Packages"}},
        {"start-up", TTarget::Lists, {"c_Packages", "old_Packages"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Empty(folders_.ListsDir);
        Empty(folders_.ProcDir);
        LocalFile(folders_.ListsDir + "a_Packages", "older reference copy");
        LocalFile(folders_.ProcDir + "c_Packages", "the store's newer index");
        LocalFile(folders_.ProcDir + "old_Packages", "a source the phone lacks");

        TRecordingReport report;
        TSourcesFromPhone copy(phone_, folders_, c.Target, stop_, report);
        EXPECT_TRUE(copy.Run());
        EXPECT_EQ(Described(copy.Outcomes()), (QStringList{"a_Packages", "c_Packages"}));
        EXPECT_EQ(Entries(folders_.ListsDir), (QStringList{"a_Packages", "c_Packages"}));
        EXPECT_EQ(LocalBytes(folders_.ListsDir + "a_Packages"), QByteArray("phone a_Packages"));
        EXPECT_EQ(Entries(folders_.ProcDir), c.Proc);
        EXPECT_EQ(LocalBytes(folders_.ProcDir + "c_Packages"),
                  QByteArray("the store's newer index"));
        if (c.Target == TTarget::ListsAndProc) {
            EXPECT_EQ(LocalBytes(folders_.ProcDir + "a_Packages"), QByteArray("phone a_Packages"));
        }
        EXPECT_EQ(Litter(), QStringList{});
        // Two files: the bar shows 0 and then 50 before it goes.
        EXPECT_EQ(report.Events,
                  (TEvents{"busy on", "progress 0", "progress 0", "progress 50", "busy off"}));
        EXPECT_EQ(copy.Warnings(), QStringList{});
    }
}

// No phone, no lists folder or no index in it: nothing to say.
TEST_F(DeviceTest, FromPhoneWithNothingToCopyEndsQuietly) {
    BindTestPlugin();
    PhoneFile(ListsFolder + "Release", "release");
    PhoneFile(ListsFolder + "x_PACKAGES", "wrong case");
    for (const char* config : {"init fail", "refuse /private/var/lib/apt/lists", ""}) {
        SCOPED_TRACE(config);
        Configure({QString::fromUtf8(config)});
        TRecordingReport report;
        TSourcesFromPhone copy(phone_, folders_, TTarget::ListsAndProc, stop_, report);
        EXPECT_FALSE(copy.Run());
        EXPECT_EQ(report.Events, (TEvents{"busy on", "progress 0", "busy off"}));
        EXPECT_EQ(copy.Warnings(), QStringList{});
        EXPECT_EQ(Entries(folders_.ListsDir), QStringList{});
        EXPECT_EQ(Entries(folders_.ProcDir), QStringList{});
    }
}

TEST_F(DeviceTest, ListsFolderUnderVarInsteadOfPrivateVarIsSaid) {
    BindTestPlugin();
    ASSERT_TRUE(QDir(PhoneRoot()).removeRecursively());
    PhoneFile("/var/lib/apt/lists/a_Packages", "a");
    LocalFile(folders_.ListsDir + "b_Packages", "b");
    TRecordingReport report;
    TSourcesFromPhone from(phone_, folders_, TTarget::ListsAndProc, stop_, report);
    EXPECT_FALSE(from.Run());
    TSourcesToPhone to(phone_, folders_, stop_, report);
    to.Run();
    for (const QStringList& warnings : {from.Warnings(), to.Warnings()}) {
        ASSERT_EQ(warnings.size(), 1);
        EXPECT_TRUE(warnings[0].contains("/private/var/lib/apt/lists"));
        EXPECT_TRUE(warnings[0].contains("private/var."));
    }
    EXPECT_EQ(Entries(folders_.ProcDir), QStringList{});
    // Without that tree nothing is said beyond what failed.
    ASSERT_TRUE(QDir(PhoneRoot() + "/var").removeRecursively());
    EXPECT_EQ(SourceSync::ListsFolderMisplaced(phone_), QString());
}

TEST_F(DeviceTest, FromPhoneNamesEachFileItCouldNotFetchOrStore) {
    BindTestPlugin();
    for (const char* name : {"a_Packages", "b_Packages", "c_Packages"})
        PhoneFile(ListsFolder + QString::fromUtf8(name), name);
    ASSERT_TRUE(QDir().mkpath(folders_.ListsDir + "c_Packages/inside"));
    Configure({"getfail b_Packages"});
    TRecordingReport report;
    TSourcesFromPhone copy(phone_, folders_, TTarget::Lists, stop_, report);
    EXPECT_TRUE(copy.Run());
    EXPECT_EQ(Entries(folders_.ListsDir), (QStringList{"a_Packages", "c_Packages/"}));
    EXPECT_EQ(report.Percents, (std::vector<int>{0, 0, 33, 66}));
    const QStringList described = Described(copy.Outcomes());
    ASSERT_EQ(described.size(), 3);
    // The phone's reason for the file it did not give.
    const QString refused = "не получен с телефона: get refused " + ListsFolder + "b_Packages";
    EXPECT_EQ(described.mid(0, 2), (QStringList{"a_Packages", "b_Packages: " + refused}));
    EXPECT_TRUE(described[2].startsWith("c_Packages: ")) << described[2].toStdString();
    ASSERT_EQ(copy.Warnings().size(), 1);
    EXPECT_TRUE(copy.Warnings()[0].startsWith("Пропущены файлы источников с телефона:\n"
                                              "\"b_Packages\": " +
                                              refused + "\n\"c_Packages\": "));
    EXPECT_EQ(Litter(), QStringList{});
}

TEST_F(DeviceTest, HostileNamesFromThePhoneAreNeverUsedAsPaths) {
    BindTestPlugin();
    PhoneFile(ListsFolder + "good_Packages", "good");
    PhoneFile(ListsFolder + "c:d_Packages", "colon");
    // U+FEFF is an ordinary character inside a name: dropping it would fetch
    // another file.
    const QString marked = QStringLiteral("\uFEFFgood_Packages");
    PhoneFile(ListsFolder + marked, "marked");
    // The long name is cut at the field's end: no suffix is left.
    QStringList config{Hex(QByteArray(300, 'z') + "_Packages")};
    for (const QByteArray& name :
         QByteArray(
             "../../evil_Packages|a/b_Packages|x\\y_Packages|..||\xff\xfe_Packages|"
             "line\nfeed_Packages|carriage\rreturn_Packages|tab\t_Packages|esc\x1b[2J_Packages")
             .split('|'))
        config << Hex(name);
    Configure(config);
    TRecordingReport report;
    TSourcesFromPhone copy(phone_, folders_, TTarget::ListsAndProc, stop_, report);
    EXPECT_TRUE(copy.Run());
    EXPECT_EQ(Entries(folders_.ListsDir), (QStringList{"c:d_Packages", "good_Packages", marked}));
    EXPECT_EQ(LocalBytes(folders_.ListsDir + "c:d_Packages"), QByteArray("colon"));
    EXPECT_EQ(LocalBytes(folders_.ListsDir + marked), QByteArray("marked"));
    EXPECT_EQ(LocalBytes(folders_.ListsDir + "good_Packages"), QByteArray("good"));
    EXPECT_EQ(Entries(folders_.ProcDir), (QStringList{"c:d_Packages", "good_Packages", marked}));
    EXPECT_EQ(Litter(), QStringList{});
    EXPECT_EQ(Entries(tmp_.path()), (QStringList{"calls.log", "phone/", "work/"}));
    const QStringList gets = TakeCalls().filter(QStringLiteral("FsGetFile"));
    EXPECT_EQ(gets.size(), 3) << gets.join('\n').toStdString();
    // Every fetch lands in the one scratch file, whatever the phone's name.
    const QString scratch = folders_.WorkDir + "download.list";
    EXPECT_TRUE(gets.contains("FsGetFile " + ListsFolder + "c:d_Packages " + scratch + " 1"))
        << gets.join('\n').toStdString();
    // The index names left out are named, made printable, with the reason.
    ASSERT_EQ(copy.Warnings().size(), 1);
    const QString warning = copy.Warnings().front();
    for (const char* shown : {"line\\x0afeed_Packages", "carriage\\x0dreturn_Packages",
                              "tab\\x09_Packages", "esc\\x1b[2J_Packages", "\xef\xbf\xbd"})
        EXPECT_TRUE(warning.contains(QString::fromUtf8(shown))) << shown;
    for (const char16_t raw : {u'\n', u'\r', u'\t', u'\x1b'})
        EXPECT_EQ(warning.count(QChar(raw)), raw == u'\n' ? 8 : 0);
}

TEST_F(DeviceTest, ToPhoneSendsEveryIndexFileOfTheReferenceCopies) {
    BindTestPlugin();
    for (const char* name : {"a_Packages", "b_PACKAGES", "c.txt", "d_packages"})
        LocalFile(folders_.ListsDir + name, QByteArray("computer ") + name);
    ASSERT_TRUE(QDir().mkpath(folders_.ListsDir + "sub"));
    PhoneFile(ListsFolder + "a_Packages", "older");
    PhoneFile(ListsFolder + "z_Packages", "only on the phone");
    LocalFile(folders_.ListsDir + "tab\t_Packages", "a name the phone must not get");

    TRecordingReport report;
    TSourcesToPhone copy(phone_, folders_, stop_, report);
    copy.Run();
    EXPECT_FALSE(stop_.IsSet());
    for (const char* name : {"a_Packages", "b_PACKAGES", "d_packages"})
        EXPECT_EQ(PhoneBytes(ListsFolder + name), QByteArray("computer ") + name) << name;
    EXPECT_EQ(PhoneBytes(ListsFolder + "c.txt"), QByteArray("<missing>"));
    EXPECT_EQ(PhoneBytes(ListsFolder + "z_Packages"), QByteArray("only on the phone"));
    EXPECT_EQ(PhoneBytes(ListsFolder + "tab\t_Packages"), QByteArray("<missing>"));
    EXPECT_EQ(copy.Outcomes().size(), 3u);
    ASSERT_EQ(copy.Warnings().size(), 1);
    EXPECT_TRUE(copy.Warnings()[0].contains("tab\\x09_Packages"));
    EXPECT_EQ(Litter(), QStringList{});
    EXPECT_EQ(report.Events, (TEvents{"busy on", "progress 0", "progress 33", "progress 66",
                                      "progress 100", "busy off"}));
}

TEST_F(DeviceTest, ToPhoneEndsAtTheFirstFileThePhoneRefuses) {
    BindTestPlugin();
    for (const char* name : {"1_Packages", "2_Packages", "3_Packages", "4_Packages"})
        LocalFile(folders_.ListsDir + name, name);
    // Files go in the folder's listing order; the second of it is refused.
    const QStringList order = SourceSync::ListsToSend(folders_.ListsDir);
    const struct {
        QStringList Config;
        int Sent;
        std::vector<int> Progress;
        QString Reason;
    } cases[] = {
        {{"putfail " + order.at(1)}, 1, {0, 25, 50}, "put refused " + ListsFolder + order.at(1)},
        {{"init fail"}, 0, {0, 25}, "телефон не подключён (cannot reach)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Reason.toStdString());
        Configure(c.Config);
        Empty(PhoneRoot() + ListsFolder);
        TakeCalls();
        stop_.Clear();
        TRecordingReport report;
        TSourcesToPhone copy(phone_, folders_, stop_, report);
        copy.Run();
        EXPECT_TRUE(stop_.IsSet()); // stays set until the next operation clears it
        EXPECT_EQ(Entries(PhoneRoot() + ListsFolder).size(), c.Sent);
        EXPECT_EQ(TakeCalls().filter(QStringLiteral("FsPutFile")).size(), c.Sent ? 2 : 0);
        EXPECT_EQ(report.Percents, c.Progress);
        EXPECT_EQ(Described(copy.Outcomes()).last(), order.at(c.Sent) + ": не принят: " + c.Reason);
        // The file the phone did not take is named, with the phone's reason.
        EXPECT_EQ(copy.Warnings(),
                  QStringList{"Телефон не принял файл источника \"" + order.at(c.Sent) +
                              "\": " + c.Reason + "; отправка прервана."});
        EXPECT_EQ(Litter(), QStringList{});
    }
}
