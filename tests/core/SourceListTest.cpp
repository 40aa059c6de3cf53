#include "sources/SourceList.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/Files.h"

#include <sys/stat.h>

namespace {

struct NormaliseCase {
    const char* typed;
    const char* address;
};

class NormaliseAddress : public ::testing::TestWithParam<NormaliseCase> {};

TEST_P(NormaliseAddress, AddsSchemeAndIndexName) {
    EXPECT_EQ(SourceList::NormaliseAddress(QString::fromUtf8(GetParam().typed)),
              QString::fromUtf8(GetParam().address));
}

INSTANTIATE_TEST_SUITE_P(
    Typed, NormaliseAddress,
    ::testing::Values(
        NormaliseCase{"repo.example.org", "http://repo.example.org/Packages"},
        NormaliseCase{"HTTP://repo.example.org/PACKAGES", "HTTP://repo.example.org/PACKAGES"},
        NormaliseCase{"http://repo.example.org/cydia", "http://repo.example.org/cydia/Packages"},
        NormaliseCase{"repo.example.org/Packages", "http://repo.example.org/Packages"},
        NormaliseCase{"repo.example.org/", "http://repo.example.org//Packages"},
        NormaliseCase{"", "http:///Packages"},
        NormaliseCase{"https://repo.example.org", "http://repo.example.org/Packages"},
        NormaliseCase{"HtTpS://Repo.Example.org/packages", "http://Repo.Example.org/packages"},
        NormaliseCase{"https://", "http:///Packages"},
        NormaliseCase{"  repo.example.org \t", "http://repo.example.org/Packages"},
        NormaliseCase{"repo.example.org/xpackages", "http://repo.example.org/xpackages/Packages"},
        NormaliseCase{"ftp://repo.example.org", "http://ftp://repo.example.org/Packages"}));

std::vector<std::pair<QString, bool>> Snapshot(const SourceList& list) {
    std::vector<std::pair<QString, bool>> out;
    for (const SourceEntry& e : list.Entries())
        out.emplace_back(e.Text, e.Checked);
    return out;
}

TEST(SourceList, AddAppendsCheckedOrSelectsAnEqualEntry) {
    SourceList list;
    EXPECT_EQ(list.Add("repo.example.org"), SourceList::AddResult::Added);
    EXPECT_EQ(list.Add("other.example.org"), SourceList::AddResult::Added);
    list.SetChecked(0, false);
    list.Select(1);
    // A new entry leaves the selection where it was.
    EXPECT_EQ(list.Add("third.example.org"), SourceList::AddResult::Added);
    EXPECT_EQ(list.Selected(), 1);
    // Equal apart from letter case: the existing entry is selected, nothing added.
    EXPECT_EQ(list.Add("HTTPS://REPO.example.org/packages"),
              SourceList::AddResult::SelectedExisting);
    EXPECT_EQ(list.Selected(), 0);
    EXPECT_EQ(Snapshot(list),
              (std::vector<std::pair<QString, bool>>{{"http://repo.example.org/Packages", false},
                                                     {"http://other.example.org/Packages", true},
                                                     {"http://third.example.org/Packages", true}}));
}

TEST(SourceList, AddSelectsTheFirstOfTwoEqualEntries) {
    SourceList list;
    list.Append("http://a/Packages");
    list.Append("http://A/Packages");
    EXPECT_EQ(list.Add("a"), SourceList::AddResult::SelectedExisting);
    EXPECT_EQ(list.Selected(), 0);
    EXPECT_EQ(list.Count(), 2);
}

TEST(SourceList, ApplyReplacesTheSelectedTextAsTyped) {
    SourceList list;
    list.Append("http://a/Packages");
    list.Append("http://b/Packages", false);
    EXPECT_FALSE(list.Apply("ignored"));
    EXPECT_EQ(list.Text(0), QStringLiteral("http://a/Packages"));

    list.Select(1);
    EXPECT_TRUE(list.Apply(" x.org/ "));
    EXPECT_EQ(Snapshot(list), (std::vector<std::pair<QString, bool>>{{"http://a/Packages", true},
                                                                     {" x.org/ ", false}}));
    EXPECT_EQ(list.Selected(), 1);
}

TEST(SourceList, SelectionAndRemovalStayInRange) {
    SourceList list;
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

TEST(SourceList, DisabledValuesListUncheckedTextsInOrder) {
    SourceList list;
    for (const char* t : {"A", "B", "C", "D"})
        list.Append(t);
    list.SetChecked(1, false);
    list.SetChecked(3, false);
    EXPECT_EQ(list.DisabledValues(), (QStringList{"B", "D"}));

    list.ApplyDisabled({"d", "nothing", "a"});
    EXPECT_EQ(list.DisabledValues(), (QStringList{"A", "D"}));
    list.ApplyDisabled({});
    EXPECT_TRUE(list.DisabledValues().isEmpty());
}

TEST(SourceList, LoadSourcesTakesOnlyIndexFilesOfTheStore) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"repo.example.org_Packages", "a.example.org_my_repo_packages",
                             "cache.txt", "download.txt", "x_Packages.bak"})
        TestFiles::WriteBytes(dir.filePath(name), {});
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir.filePath("fifo.example.org_Packages")).constData(), 0600),
        0);
    ASSERT_TRUE(QFile::link(dir.filePath("repo.example.org_Packages"),
                            dir.filePath("link.example.org_Packages")));

    SourceList list;
    list.Append("stale");
    list.Select(0);
    list.LoadSources(dir.path());

    QStringList texts;
    for (const SourceEntry& e : list.Entries()) {
        texts.append(e.Text);
        EXPECT_TRUE(e.Checked) << e.Text.toStdString();
    }
    texts.sort(); // the file system decides the order
    EXPECT_EQ(texts, (QStringList{"http://a.example.org/my/repo/packages",
                                  "http://repo.example.org/Packages"}));
    EXPECT_EQ(list.Selected(), -1);

    list.LoadSources(dir.filePath("missing"));
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
