#include "sources/SourceList.h"
#include "sources/IndexStore.h"
#include "sources/SourceAddress.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Files.h"

#include <sys/stat.h>

namespace {

TEST(TypedSource, GivesIndexAddressesOrAReason) {
    // The addresses added, "|" between them; or "!" and a part of the reason.
    const std::pair<const char*, const char*> cases[] = {
        // Addresses: the scheme kept, flat repositories in the phone's form,
        // never a doubled "/".
        {"repo.example.org", "http://repo.example.org/./Packages"},
        {"  https://host/repo/ \t", "https://host/repo/./Packages"},
        {"HtTpS://Host/repo//Packages", "https://Host/repo/./Packages"},
        {"http://host/archive_zhaonan/", "http://host/archive_zhaonan/./Packages"},
        {"host/./repo/PACKAGES.gz", "http://host/repo/./Packages"},
        {"http://h/dists/stable/main/binary-iphoneos-arm/Packages",
         "http://h/dists/stable/main/binary-iphoneos-arm/Packages"},
        {"http://h/repo/dists/stable/",
         "http://h/repo/dists/stable/main/binary-iphoneos-arm/Packages"},
        {"h/dists/ios/extra", "http://h/dists/ios/extra/binary-iphoneos-arm/Packages"},
        {"h:8080/x/", "http://h:8080/x/./Packages"},
        // Source lines, with and without "deb" and options.
        {"deb https://host/repo/ stable main",
         "https://host/repo/dists/stable/main/binary-iphoneos-arm/Packages"},
        {"https://host/repo stable main contrib",
         "https://host/repo/dists/stable/main/binary-iphoneos-arm/Packages|"
         "https://host/repo/dists/stable/contrib/binary-iphoneos-arm/Packages"},
        {"deb [trusted=yes arch=x] https://host/repo/ ./", "https://host/repo/./Packages"},
        {"DEB http://host/ .", "http://host/./Packages"},
        {"http://host/repo/ sub/", "http://host/repo/sub/Packages"},
        // Junk says why.
        {"", "!пуст"},
        {" \t ", "!пуст"},
        {"http://", "!нет имени сервера"},
        {"http:///Packages", "!нет имени сервера"},
        {"ftp://repo.example.org", "!http:// и https://"},
        {"http://my host.org/", "!пробел"},
        {"this is not an address", "!пробел"},
        {"http://exa<mple.org/", "!имя сервера"},
        {"http://h/x?y=1", "!\"?\""},
        {"http://h/repo/\x01/", "!управляющий"},
        {"deb http://h/repo/ stable m\x05"
         "ain",
         "!управляющий символ: \"deb http://h/repo/ "
         "stable m\\x05ain\""},
        {"deb-src http://h/ ./", "!deb-src"},
        {"deb", "!нет адреса"},
        {"http://h/repo/ stable", "!раздел"},
        {"http://h/repo/ ./ main", "!разделов"},
        {"http://h/dists/", "!дистрибутив"}};
    for (const auto& [typed, result] : cases) {
        QStringList addresses;
        const TOutcome outcome =
            SourceAddress::FromTyped(QString::fromUtf8(typed), QString(), addresses);
        const QString expected = QString::fromUtf8(result);
        if (expected.startsWith('!')) {
            EXPECT_FALSE(outcome.Ok) << typed;
            EXPECT_TRUE(addresses.isEmpty()) << typed;
            EXPECT_TRUE(outcome.Reason.contains(expected.mid(1))) << outcome.Reason.toStdString();
        } else {
            EXPECT_TRUE(outcome.Ok) << outcome.Reason.toStdString();
            EXPECT_EQ(addresses.join('|'), expected);
        }
    }
}

TEST(TypedSource, SuiteAddressesUseTheChosenArchitecture) {
    QStringList addresses;
    ASSERT_TRUE(SourceAddress::FromTyped(QStringLiteral("http://h/ stable main"),
                                         QStringLiteral("iphoneos-arm64"), addresses));
    EXPECT_EQ(addresses,
              (QStringList{"http://h/dists/stable/main/binary-iphoneos-arm64/Packages"}));
}

std::vector<std::pair<QString, bool>> Snapshot(const TSourceList& list) {
    std::vector<std::pair<QString, bool>> out;
    for (const TSourceEntry& e : list.Entries())
        out.emplace_back(e.Text, e.Checked);
    return out;
}

TEST(TSourceList, AddAppendsCheckedOrSelectsTheSameRepository) {
    TSourceList list;
    EXPECT_EQ(list.Add("repo.example.org"), TSourceList::TAddResult::Added);
    EXPECT_EQ(list.Add("other.example.org"), TSourceList::TAddResult::Added);
    EXPECT_EQ(list.Selected(), 1); // the new entry
    list.SetChecked(0, false);
    // Another spelling of a listed repository selects it; an https one moves
    // it to https, keeping its place and check mark.
    EXPECT_EQ(list.Add("REPO.example.org/Packages"), TSourceList::TAddResult::SelectedExisting);
    EXPECT_EQ(list.Selected(), 0);
    EXPECT_EQ(list.Add("https://other.example.org//"), TSourceList::TAddResult::SelectedExisting);
    EXPECT_EQ(list.Selected(), 1);
    // A line of two components adds what is new and selects the first of it.
    list.Append("http://h/dists/s/main/binary-iphoneos-arm/Packages");
    EXPECT_EQ(list.Add("deb http://h/ s main extra"), TSourceList::TAddResult::Added);
    EXPECT_EQ(list.Selected(), 3);
    QString reason;
    EXPECT_EQ(list.Add("http://", &reason), TSourceList::TAddResult::Refused);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(Snapshot(list), (std::vector<std::pair<QString, bool>>{
                                  {"http://repo.example.org/./Packages", false},
                                  {"https://other.example.org/./Packages", true},
                                  {"http://h/dists/s/main/binary-iphoneos-arm/Packages", true},
                                  {"http://h/dists/s/extra/binary-iphoneos-arm/Packages", true}}));
    EXPECT_TRUE(list.IsHttps("other.example.org_._Packages"));
    EXPECT_FALSE(list.IsHttps("repo.example.org_._Packages"));
}

TEST(TSourceList, ApplyReplacesTheSelectedEntryWithTheTypedAddress) {
    TSourceList list;
    list.Append("http://a/Packages");
    list.Append("http://b/Packages", false);
    EXPECT_FALSE(list.Apply("x.org"));
    EXPECT_EQ(list.Text(0), QStringLiteral("http://a/Packages"));

    list.Select(1);
    for (const char* refused : {"", "http://", "http://a/./Packages", "http://c/ s main extra"})
        EXPECT_FALSE(list.Apply(refused)) << refused;
    EXPECT_TRUE(list.Apply(" https://x.org/ "));
    EXPECT_TRUE(list.Apply("https://x.org/Packages")); // its own repository is no duplicate
    EXPECT_EQ(Snapshot(list),
              (std::vector<std::pair<QString, bool>>{{"http://a/Packages", true},
                                                     {"https://x.org/./Packages", false}}));
    EXPECT_EQ(list.Selected(), 1);
    EXPECT_TRUE(list.IsHttps("x.org_._Packages"));
}

TEST(TSourceList, SelectionAndRemovalStayInRange) {
    TSourceList list;
    list.Append("a");
    list.Append("b");
    list.Append("c");
    for (int bad : {-5, -1, 3, 100}) {
        list.Select(1);
        list.Select(bad);
        EXPECT_EQ(list.Selected(), -1) << bad;
        EXPECT_FALSE(list.Remove(bad)) << bad;
    }
    EXPECT_EQ(list.Count(), 3);
    list.Select(2);
    EXPECT_TRUE(list.Remove(1));
    EXPECT_EQ(list.Selected(), -1);
    EXPECT_EQ(Snapshot(list), (std::vector<std::pair<QString, bool>>{{"a", true}, {"c", true}}));
    EXPECT_FALSE(list.Apply("z")); // removal cleared the selection
}

TEST(TSourceList, LoadSourcesTakesOnlyIndexFilesOfTheStore) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"repo.example.org_Packages", "a.example.org_my_repo_packages",
                             "cache.txt", "download.txt", "x_Packages.bak",
                             "repo.example.org__Packages", "repo.example.org_._Packages",
                             "h_archive%5fzhaonan_._Packages", "tab\t.example.org_Packages",
                             "line\nfeed.example.org_Packages", "esc\x1b.example.org_Packages"})
        TestFiles::WriteBytes(dir.filePath(name), {});
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir.filePath("fifo.example.org_Packages")).constData(), 0600),
        0);
    ASSERT_TRUE(QFile::link(dir.filePath("repo.example.org_Packages"),
                            dir.filePath("link.example.org_Packages")));

    TSourceList list;
    list.Append("stale");
    list.Select(0);
    list.RememberHttps({"h_archive%5fzhaonan_._Packages"});
    list.LoadSources(dir.path());

    QStringList texts;
    for (const TSourceEntry& e : list.Entries()) {
        texts.append(e.Text);
        EXPECT_TRUE(e.Checked) << e.Text.toStdString();
    }
    texts.sort(); // the file system decides the order
    // One entry per repository, in the phone's form; "_" and the scheme as
    // they were added.
    EXPECT_EQ(texts, (QStringList{"http://a.example.org/my/repo/packages",
                                  "http://repo.example.org/./Packages",
                                  "https://h/archive_zhaonan/./Packages"}));
    EXPECT_EQ(list.Selected(), -1);

    // A copy from the phone adds only the repositories it brought: a removed
    // source stays removed, the marks stay, a known repository is not doubled.
    const QStringList stored = IndexStore::ListIndexFiles(dir.path());
    const QSet<QString> known(stored.begin(), stored.end());
    TestFiles::WriteBytes(dir.filePath("new.org_._Packages"), {});
    TestFiles::WriteBytes(dir.filePath("h_archive%5fzhaonan_Packages"), {});
    list.Remove(list.FindRepository("http://a.example.org/my/repo/packages"));
    list.SetChecked(0, false);
    const QStringList before = list.Texts();
    EXPECT_EQ(list.AddNewFromStore(dir.path(), known), 1);
    EXPECT_EQ(list.Texts(), before + QStringList{"http://new.org/./Packages"});
    EXPECT_FALSE(list.Checked(0));

    list.LoadSources(dir.filePath("missing"));
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
