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

// One saved row of "cache.txt", fields in the file's order.
struct TCacheRow {
    std::string Section, Caption;
    int State = 0;
    std::string Version, Package, Description, IndexFile;
};

inline constexpr const char* RepoIndex = "repo.example.org_._Packages";

// The made-up repository the page tests browse: five rows over three
// categories, four of them with a stanza in the index.
inline const char* const RepoStanzas =
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

class PackagesPage : public ::testing::Test {
protected:
    void SetUp() override {
        // The pictures live in the window library, a static library: its
        // resources register only when asked to, as the program's main does.
        Q_INIT_RESOURCE(orvia);
        ASSERT_TRUE(root_.isValid());
        QString error;
        ASSERT_TRUE(Startup::PrepareWorkFolders(root_.path(), folders_, error))
            << error.toStdString();
        NewPage();
    }

    // A fresh page on the folders, as the window makes it.
    void NewPage() {
        page_ = std::make_unique<TPackagesPage>();
        page_->SetFolders(folders_);
        page_->OpenUrl = [this](const QUrl& url) { opened_.push_back(url); };
        page_->resize(640, 400);
        page_->show();
    }

    static void Write(const QString& path, const std::string& bytes) {
        TestFiles::WriteBytes(path, QByteArray::fromStdString(bytes));
    }
    static std::string Read(const QString& path) {
        return TestFiles::ReadBytes(path).toStdString();
    }

    // The records, then their architectures: one run with none.
    static std::string CacheText(const std::vector<TCacheRow>& rows) {
        std::string text;
        for (const TCacheRow& r : rows)
            for (const std::string& line : {r.Section, r.Caption, "$" + std::to_string(r.State),
                                            r.Version, r.Package, r.Description, r.IndexFile})
                text += line + "\r\n";
        if (rows.empty())
            return text;
        return text + "\x1A" + "Architecture\r\n" + std::to_string(rows.size()) + "\r\n";
    }

    void WriteCache(const std::vector<TCacheRow>& rows) const {
        Write(folders_.ProcDir + "cache.txt", CacheText(rows));
    }

    // The repository of RepoStanzas and its five rows, loaded with all
    // categories. Row order: Bare, Example Tweak Pack, Блестящая тема,
    // Other thing, Zed (no stanza).
    void LoadRepository() {
        Write(folders_.ProcDir + RepoIndex, RepoStanzas);
        WriteCache({
            {"Utilities", "net.bare.tool", 0, "0.1", "net.bare.tool", "", RepoIndex},
            {"Tweaks", "Example Tweak Pack", 2, "1.0", "com.example.tweak", "Example", RepoIndex},
            {"Themes", "Блестящая тема", 0, "2.0", "org.sample.theme", "Dark", RepoIndex},
            {"Tweaks", "Other thing", 1, "3.0", "com.other.tweaker", "x", RepoIndex},
            {"Themes", "Zed", 0, "9", "zed", "", RepoIndex},
        });
        ASSERT_TRUE(page_->LoadPackageList(""));
    }

    template <typename T> T* Find(const char* name) const {
        T* w = page_->findChild<T*>(QString::fromUtf8(name));
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
    void ClickRow(int row, Qt::MouseButton button = Qt::LeftButton) const {
        QTableView* list = List();
        const QModelIndex index = list->model()->index(row, 1);
        list->scrollTo(index);
        QTest::mouseClick(list->viewport(), button, {}, list->visualRect(index).center());
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
        for (const TPackageRow& row : page_->Rows())
            ids.emplace_back(row.Package());
        return ids;
    }

    QTemporaryDir root_;
    TWorkFolders folders_;
    std::unique_ptr<TPackagesPage> page_;
    std::vector<QUrl> opened_;
};
