#pragma once

#include "app/ui/PackagesPage.h"
#include "base/WorkFolders.h"
#include "support/Files.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// The pictures live in the window library, a static library: its resources
// register only when asked to, as the program's main does.
inline void InitPictureResources() {
    Q_INIT_RESOURCE(orvia);
}

// One saved row of "cache.txt", fields in the file's order.
struct CacheRow {
    std::string Section, Caption;
    int State = 0;
    std::string Version, Package, Description, IndexFile;
    std::string Architecture = {};
};

inline constexpr const char* kRepoIndex = "repo.example.org_._Packages";

// The made-up repository the page tests browse: five rows over three
// categories, four of them with a stanza in the index.
inline const char* const kRepoStanzas =
    "Package: net.bare.tool\n"
    "Version: 0.1\n"
    "Section: Utilities\n"
    "\n"
    "Package: com.example.tweak\n"
    "Name: Example Tweak Pack\n"
    "Version: 1.0\n"
    "Section: Tweaks\n"
    "Description: Example\n"
    " continued on a second line\n"
    "Author: Jane Doe <jane@example.org>\n"
    "Homepage: http://example.org/tweak\n"
    "Size: 1234\n"
    "Filename: ./debs/tweak_1.0.deb\n"
    "Pre-Depends: dpkg (>= 1.14)\n"
    "Depends: a,b (>= 1.0),  c\n"
    "\n"
    "Package: org.sample.theme\n"
    "NAME: \xD0\x91\xD0\xBB\xD0\xB5\xD1\x81\xD1\x82\xD1\x8F\xD1\x89\xD0\xB0\xD1\x8F "
    "\xD1\x82\xD0\xB5\xD0\xBC\xD0\xB0\n" // "Блестящая тема"
    "version: 2.0\n"
    "SECTION: Themes\n"
    "description: Dark\n"
    "Maintainer: theme@example.org\n"
    "Depiction: http://example.org/depict\n"
    "Size:999\n"
    "Depends: libexample (>= 0.9),  libfoo\n"
    "Filename: debs/theme_2.0.deb\n"
    "\n"
    "Package: com.other.tweaker\n"
    "Name: Other thing\n"
    "Version: 3.0\n"
    "Section: Tweaks\n"
    "Filename: debs/other_3.0.deb\n";

class PackagesPageFixture : public ::testing::Test {
protected:
    void SetUp() override {
        InitPictureResources();
        ASSERT_TRUE(root.isValid());
        const QDir dir(root.path());
        for (const char* sub : {"proc", "lists", "archives"})
            ASSERT_TRUE(dir.mkdir(QString::fromUtf8(sub)));
        folders.WorkDir = root.path() + "/";
        folders.ProcDir = folders.WorkDir + "proc/";
        folders.ListsDir = folders.WorkDir + "lists/";
        folders.ArchivesDir = folders.WorkDir + "archives/";
        page = std::make_unique<TPackagesPage>();
        page->SetFolders(folders);
        page->OpenUrl = [this](const QUrl& url) { opened.push_back(url); };
        page->resize(640, 400);
        page->show();
    }

    static void Write(const QString& path, const std::string& bytes) {
        TestFiles::WriteBytes(path, QByteArray::fromStdString(bytes));
    }
    static std::string Read(const QString& path) {
        return TestFiles::ReadBytes(path).toStdString();
    }

    // The records, then their architectures in runs, as the program writes
    // them.
    static std::string CacheText(const std::vector<CacheRow>& rows) {
        std::string text, trailer = "\x1A"
                                    "Architecture\r\n";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const CacheRow& r = rows[i];
            for (const std::string& line : {r.Section, r.Caption, "$" + std::to_string(r.State),
                                            r.Version, r.Package, r.Description, r.IndexFile})
                text += line + "\r\n";
            std::size_t run = 1;
            while (i + 1 < rows.size() && rows[i + 1].Architecture == r.Architecture) {
                const CacheRow& n = rows[++i];
                for (const std::string& line : {n.Section, n.Caption, "$" + std::to_string(n.State),
                                                n.Version, n.Package, n.Description, n.IndexFile})
                    text += line + "\r\n";
                ++run;
            }
            trailer +=
                std::to_string(run) + (r.Architecture.empty() ? "" : " " + r.Architecture) + "\r\n";
        }
        return rows.empty() ? text : text + trailer;
    }

    void WriteCache(const std::vector<CacheRow>& rows) const {
        Write(folders.ProcDir + "cache.txt", CacheText(rows));
    }

    // The repository of kRepoStanzas and its five rows, loaded with all
    // categories. Row order: Bare, Example Tweak Pack, Блестящая тема,
    // Other thing, Zed (no stanza).
    void LoadRepository() {
        Write(folders.ProcDir + kRepoIndex, kRepoStanzas);
        WriteCache({
            {"Utilities", "net.bare.tool", 0, "0.1", "net.bare.tool", "", kRepoIndex},
            {"Tweaks", "Example Tweak Pack", 2, "1.0", "com.example.tweak", "Example", kRepoIndex},
            {"Themes", "Блестящая тема", 0, "2.0", "org.sample.theme", "Dark", kRepoIndex},
            {"Tweaks", "Other thing", 1, "3.0", "com.other.tweaker", "x", kRepoIndex},
            {"Themes", "Zed", 0, "9", "zed", "", kRepoIndex},
        });
        ASSERT_TRUE(page->LoadPackageList(""));
    }

    template <typename T> T* Find(const char* name) const {
        T* w = page->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    QTableView* List() const { return Find<QTableView>("lstPackages"); }
    QComboBox* Sections() const { return Find<QComboBox>("lstSections"); }
    QLineEdit* Search() const { return Find<QLineEdit>("txtSearch"); }
    QString LabelText(const char* name) const { return Find<QLabel>(name)->text(); }
    bool Shown(const char* name) const { return !Find<QWidget>(name)->isHidden(); }

    int Selected() const {
        const QModelIndexList rows = List()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    // A real click on the row's caption cell, as the user does it.
    void ClickRow(int row) const {
        QTableView* list = List();
        const QModelIndex index = list->model()->index(row, 1);
        list->scrollTo(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
    }

    void ClickButton(const char* name, Qt::MouseButton button = Qt::LeftButton) const {
        QTest::mouseClick(Find<QToolButton>(name), button);
    }

    void ChooseCategory(const QString& text) const {
        QComboBox* box = Sections();
        const int entry = box->findText(text);
        ASSERT_GE(entry, 0) << text.toStdString();
        box->setCurrentIndex(entry);
        emit box->activated(entry);
    }

    std::vector<std::string> Identifiers() const {
        std::vector<std::string> ids;
        for (const TPackageRow& row : page->Rows())
            ids.push_back(row.Package);
        return ids;
    }

    QTemporaryDir root;
    TWorkFolders folders;
    std::unique_ptr<TPackagesPage> page;
    std::vector<QUrl> opened;
};
