#include "PackagesPageFixture.h"

#include <QApplication>
#include <QScrollBar>

#include "app/ui/PackageListModel.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <chrono>
#include <tuple>

namespace {

using PackagesPage = PackagesPageFixture;

TEST_F(PackagesPage, DownloadStripWaitsAndTheSelectionStaysMarked) {
    // The download strip waits: only the start button shows.
    EXPECT_FALSE(Find<QProgressBar>("prPkg")->isVisible());
    EXPECT_FALSE(Find<QToolButton>("btnPkgStop")->isVisible());
    EXPECT_TRUE(Find<QToolButton>("btnPkgDownload")->isVisible());
    const QPalette palette = List()->palette();
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
              palette.color(QPalette::Active, QPalette::Highlight));
}

// Tab walks the page's controls and leaves the list instead of its cells;
// Shift+Tab goes back; Space presses the button that has the focus.
TEST_F(PackagesPage, TabReachesEveryControlAndSpacePressesButtons) {
    LoadRepository();
    QApplication::setActiveWindow(page.get());
    Sections()->setFocus();
    QStringList visited;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, QStringList({"lstPackages", "txtSearch", "btnSearch", "btnBack",
                                    "btnMarkAll", "btnPkgDownload", "lstSections"}));
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), Sections());

    Search()->setText("other");
    auto* button = Find<QToolButton>("btnSearch");
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    EXPECT_EQ(Selected(), 3);
}

TEST_F(PackagesPage, CategoriesComeFromTheSavedListAndNarrowIt) {
    LoadRepository();
    QComboBox* box = Sections();
    ASSERT_EQ(box->count(), 4);
    EXPECT_EQ(box->itemText(0), " - Все категории - ");
    EXPECT_EQ(box->itemText(1), "Themes");
    EXPECT_EQ(box->itemText(2), "Tweaks");
    EXPECT_EQ(box->itemText(3), "Utilities");
    EXPECT_EQ(box->currentIndex(), 0);

    ClickRow(2);
    ASSERT_TRUE(Shown("lblName"));
    ChooseCategory("Tweaks");
    EXPECT_FALSE(Shown("lblName")) << "the details follow the selection, which is gone";
    EXPECT_EQ(Identifiers(), (std::vector<std::string>{"com.example.tweak", "com.other.tweaker"}));
    EXPECT_EQ(box->count(), 4) << "a category reload keeps the entries";
    ChooseCategory(" - Все категории - ");
    EXPECT_EQ(page->Rows().size(), 5u);
}

TEST_F(PackagesPage, SearchStepsThroughMatchesAndWrapsToTheTop) {
    LoadRepository();
    Search()->setText("  tweak  ");
    // Caption match, identifier match, then nothing below and row 0 does not
    // match: cleared, and the next click starts from the top again.
    const int expected[] = {1, 3, -1, 1};
    for (int row : expected) {
        ClickButton("btnSearch");
        EXPECT_EQ(Selected(), row);
        EXPECT_EQ(Shown("lblName"), row >= 0);
    }
    EXPECT_EQ(LabelText("lblPackage"), "com.example.tweak");
}

TEST_F(PackagesPage, FailedSearchScrollsBackToTheTop) {
    std::vector<CacheRow> rows;
    for (int i = 0; i < 60; ++i)
        rows.push_back(
            {"S", "row " + std::to_string(i), 0, "1", "id" + std::to_string(i), "", kRepoIndex});
    WriteCache(rows);
    ASSERT_TRUE(page->LoadPackageList(""));
    Search()->setText("row 59");
    ClickButton("btnSearch");
    ASSERT_EQ(Selected(), 59);
    ASSERT_NE(List()->indexAt(QPoint(5, 5)).row(), 0);
    ClickButton("btnSearch");
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(List()->indexAt(QPoint(5, 5)).row(), 0);
}

TEST_F(PackagesPage, BlankSearchTextNeitherSearchesNorJumps) {
    LoadRepository();
    Search()->setText("  \t ");
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        ClickRow(2);
        ClickButton("btnSearch", button);
        EXPECT_EQ(Selected(), 2) << button;
        // Nor did it take a back position.
        ClickButton("btnBack");
        EXPECT_EQ(Selected(), 2) << button;
    }
}

TEST_F(PackagesPage, EnterInTheSearchFieldSearches) {
    LoadRepository();
    Search()->setText("other");
    QTest::keyClick(Search(), Qt::Key_Return);
    EXPECT_EQ(Selected(), 3);
    EXPECT_EQ(Search()->text(), "other");
}

TEST_F(PackagesPage, RightClickJumpsToIdentifierAndBackReturns) {
    LoadRepository();
    ClickRow(0);
    Search()->setText("org.sample.theme");
    ClickButton("btnSearch", Qt::RightButton);
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(LabelText("lblPackage"), "org.sample.theme");
    ClickButton("btnBack");
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(LabelText("lblPackage"), "net.bare.tool");
    // The position is used up.
    ClickRow(3);
    ClickButton("btnBack");
    EXPECT_EQ(Selected(), 3);
}

TEST_F(PackagesPage, RightClickFromACategorySwitchesToAllAndForgetsBack) {
    LoadRepository();
    // A back position from an earlier jump is dropped by this one.
    ClickRow(0);
    Search()->setText("zed");
    ClickButton("btnSearch", Qt::RightButton);
    ChooseCategory("Tweaks");
    ClickRow(1);
    Search()->setText("org.sample.theme");
    ClickButton("btnSearch", Qt::RightButton);
    EXPECT_EQ(Sections()->currentIndex(), 0);
    EXPECT_EQ(page->Rows().size(), 5u);
    EXPECT_EQ(Selected(), 2);
    ClickButton("btnBack");
    EXPECT_EQ(Selected(), 2) << "no back position after a jump from a category";
}

TEST_F(PackagesPage, SearchInsideACategoryLeavesNoBackPosition) {
    LoadRepository();
    ChooseCategory("Tweaks");
    ClickRow(0);
    Search()->setText("other");
    ClickButton("btnSearch");
    EXPECT_EQ(Selected(), 1);
    ClickButton("btnBack");
    EXPECT_EQ(Sections()->currentIndex(), 2) << "Back did nothing";
    EXPECT_EQ(Selected(), 1);
}

TEST_F(PackagesPage, CategoryLabelSwitchesCategoryAndKeepsPackage) {
    LoadRepository();
    ClickRow(3);
    ASSERT_EQ(LabelText("lblSection"), "Tweaks");
    QTest::mouseClick(Find<QLabel>("lblSection"), Qt::LeftButton);
    EXPECT_EQ(Sections()->currentText(), "Tweaks");
    EXPECT_EQ(Identifiers(), (std::vector<std::string>{"com.example.tweak", "com.other.tweaker"}));
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(LabelText("lblPackage"), "com.other.tweaker");
}

TEST_F(PackagesPage, RightClickOnAnotherRowShowsItsDetails) {
    LoadRepository();
    ClickRow(1);
    ASSERT_EQ(LabelText("lblPackage"), "com.example.tweak");
    QTableView* list = List();
    const QModelIndex other = list->model()->index(3, 1);
    QTest::mouseClick(list->viewport(), Qt::RightButton, {}, list->visualRect(other).center());
    ASSERT_EQ(Selected(), 3);
    EXPECT_EQ(LabelText("lblPackage"), "com.other.tweaker");
}

// Sections that are not UTF-8 decode to the same replacement characters; the
// label must still lead to its own category.
TEST_F(PackagesPage, CategoryLabelMatchesSectionsByTheirBytes) {
    Write(folders.ProcDir + kRepoIndex, "Package: a\nSection: \xfe\n\nPackage: b\nSection: \xff\n");
    WriteCache(
        {{"\xfe", "A", 0, "", "a", "", kRepoIndex}, {"\xff", "B", 0, "", "b", "", kRepoIndex}});
    for (const auto& [row, section, package] :
         {std::tuple{0, "\xfe", "a"}, std::tuple{1, "\xff", "b"}}) {
        ASSERT_TRUE(page->LoadPackageList(""));
        ASSERT_EQ(Sections()->count(), 3);
        ClickRow(row);
        QTest::mouseClick(Find<QLabel>("lblSection"), Qt::LeftButton);
        EXPECT_EQ(Sections()->currentData().toByteArray(), QByteArray(section)) << package;
        EXPECT_EQ(Identifiers(), std::vector<std::string>{package});
        EXPECT_EQ(Selected(), 0) << package;
    }
}

TEST_F(PackagesPage, AReloadedListStartsAtItsTop) {
    std::vector<CacheRow> rows;
    for (int i = 0; i < 300; ++i)
        rows.push_back({i < 200 ? "Tweaks" : "Themes", "Row " + std::to_string(1000 + i), 0, "1",
                        "p" + std::to_string(i), "", kRepoIndex});
    WriteCache(rows);
    ASSERT_TRUE(page->LoadPackageList(""));
    List()->scrollToBottom();
    ASSERT_GT(List()->verticalScrollBar()->value(), 0);
    ChooseCategory("Themes");
    ASSERT_EQ(page->Rows().size(), 100u);
    EXPECT_EQ(List()->verticalScrollBar()->value(), 0);
}

TEST_F(PackagesPage, KeysMoveTheSelectionAndShowDetails) {
    LoadRepository();
    ClickRow(0);
    List()->setFocus();
    QTest::keyClick(List(), Qt::Key_Down);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(LabelText("lblPackage"), "com.example.tweak");
    QTest::keyClick(List(), Qt::Key_Space);
    EXPECT_TRUE(page->Rows()[1].Marked);
}

TEST_F(PackagesPage, ClickOnTheCheckBoxMarksTheRowAndMarksSurviveBrowsing) {
    LoadRepository();
    QTableView* list = List();
    const QModelIndex index = list->model()->index(2, 0);
    QStyleOptionViewItem option;
    option.initFrom(list->viewport());
    option.rect = list->visualRect(index);
    option.features = QStyleOptionViewItem::HasCheckIndicator |
                      QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    option.decorationSize = QSize(16, 16);
    const QRect box =
        list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_TRUE(page->Rows()[2].Marked);
    EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_FALSE(page->Rows()[2].Marked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    page->SetRowMarked(1, true);
    auto markedIds = [this] {
        std::vector<std::string> ids;
        for (const TPackageRow& row : page->Rows())
            if (row.Marked)
                ids.push_back(row.Package);
        return ids;
    };
    // Marks live on their rows through category changes and searches; the
    // count of all of them stays in sight.
    ChooseCategory("Themes");
    EXPECT_EQ(markedIds(), std::vector<std::string>{"org.sample.theme"});
    EXPECT_EQ(page->MarkedCount(), 2);
    EXPECT_EQ(Find<QGroupBox>("grpPackages")->title(), " Пакеты (отмечено: 2) ");
    page->SetRowMarked(0, false); // unmarked in another category
    Search()->setText("com.other.tweaker");
    ClickButton("btnSearch", Qt::RightButton);
    ASSERT_EQ(Sections()->currentIndex(), 0);
    EXPECT_EQ(markedIds(), std::vector<std::string>{"com.example.tweak"});
    EXPECT_EQ(page->MarkedCount(), 1);

    // A catalogue built anew forgets them.
    Write(folders.ProcDir + kRepoIndex, kRepoStanzas);
    page->LoadPackages();
    EXPECT_TRUE(markedIds().empty());
    EXPECT_EQ(page->MarkedCount(), 0);
    EXPECT_EQ(Find<QGroupBox>("grpPackages")->title(), " Пакеты ");
}

TEST_F(PackagesPage, ResetAcceptsIndexesAndClearsUpdateFlags) {
    const std::string second = "second.example.org_Packages";
    const std::string repo = std::string(kRepoStanzas) + "\nPackage: a\nVersion: 1\n";
    Write(folders.ProcDir + kRepoIndex, repo);
    Write(folders.ProcDir + second.c_str(), "Package: d\nVersion: 2\n");
    Write(folders.ListsDir + second.c_str(), "Package: d\nVersion: 1\n");
    Write(folders.ProcDir + "notes.txt", "not an index");
    WriteCache({
        {"S", "delta", 2, "1", "d", "", second},
        {"S", "charlie", 3, "1", "c", "", kRepoIndex},
        {"T", "bravo", 1, "1", "b", "", kRepoIndex},
        {"T", "alpha", 0, "1", "a", "", kRepoIndex},
    });
    ASSERT_TRUE(page->LoadPackageList("T"));
    ClickRow(1);
    ASSERT_TRUE(Shown("lblName"));

    // The reset asks first; No changes nothing.
    std::vector<QString> questions;
    bool answer = false;
    page->Confirm = [&](const QString& text) {
        questions.push_back(text);
        return answer;
    };
    const std::string before = Read(folders.ProcDir + "cache.txt");
    ClickButton("btnMarkAll");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].startsWith("Сбросить все обновления?"));
    EXPECT_EQ(Read(folders.ProcDir + "cache.txt"), before);
    EXPECT_EQ(Read(folders.ListsDir + kRepoIndex), "<missing>");
    EXPECT_EQ(Identifiers(), (std::vector<std::string>{"b", "a"}));

    answer = true;
    ClickButton("btnMarkAll");

    EXPECT_EQ(questions.size(), 2u);
    EXPECT_FALSE(Shown("lblName")) << "no row is selected after the reset";
    EXPECT_EQ(Sections()->currentIndex(), 0);
    EXPECT_EQ(Identifiers(), (std::vector<std::string>{"a", "b", "c", "d"}));
    std::vector<int> states;
    for (const TPackageRow& row : page->Rows())
        states.push_back(row.State);
    EXPECT_EQ(states, (std::vector<int>{0, 1, 1, 0}));
    EXPECT_EQ(Read(folders.ProcDir + "cache.txt"),
              CacheText({{"T", "alpha", 0, "1", "a", "", kRepoIndex},
                         {"T", "bravo", 1, "1", "b", "", kRepoIndex},
                         {"S", "charlie", 1, "1", "c", "", kRepoIndex},
                         {"S", "delta", 0, "1", "d", "", second}}));
    EXPECT_EQ(Read(folders.ListsDir + kRepoIndex), repo);
    EXPECT_EQ(Read(folders.ListsDir + second.c_str()), "Package: d\nVersion: 2\n");
    EXPECT_EQ(Read(folders.ListsDir + "notes.txt"), "<missing>");
}

TEST_F(PackagesPage, SaveAndRebuildUseTheFolders) {
    Write(folders.ProcDir + kRepoIndex, kRepoStanzas);
    page->LoadPackages();
    ASSERT_EQ(page->Rows().size(), 4u);
    for (const TPackageRow& row : page->Rows())
        EXPECT_EQ(row.State, 2) << row.Package << ": no reference copy, so new";
    page->SavePackageList();
    const std::string saved = Read(folders.ProcDir + "cache.txt");
    EXPECT_NE(saved.find("com.example.tweak\r\n"), std::string::npos);
    // An empty list removes the file, and loading then reports it missing
    // without touching the shown rows.
    Write(folders.ProcDir + kRepoIndex, "");
    page->LoadPackages();
    page->SavePackageList();
    EXPECT_EQ(Read(folders.ProcDir + "cache.txt"), "<missing>");
    EXPECT_FALSE(page->LoadPackageList(""));
}

TEST_F(PackagesPage, DownloadStripButtonsRaiseTheirSignals) {
    int download = 0;
    int stop = 0;
    QObject::connect(page.get(), &TPackagesPage::downloadClicked, [&] { ++download; });
    QObject::connect(page.get(), &TPackagesPage::stopClicked, [&] { ++stop; });
    ClickButton("btnPkgDownload");
    page->PkgStop.SetShown(true);
    page->PkgStop.SetEnabled(true);
    ClickButton("btnPkgStop");
    EXPECT_EQ(download, 1);
    EXPECT_EQ(stop, 1);
}

// ---- the list model ----

TPackageRows ManyRows(int count) {
    TPackageRows rows(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        TPackageRow& r = rows[static_cast<std::size_t>(i)];
        r.Caption = "pkg " + std::to_string(i);
        r.Version = std::to_string(i % 97) + ".0";
        r.Package = "com.example.p" + std::to_string(i);
        r.State = i % 4;
        r.Marked = i % 5 == 0;
    }
    return rows;
}

TEST(PackageListModelTest, ServesColumnsMarksAndStatePictures) {
    TPackageListModel model;
    std::array<QPixmap, 4> pictures;
    for (int i = 0; i < 4; ++i) {
        pictures[static_cast<std::size_t>(i)] = QPixmap(16, 16);
        pictures[static_cast<std::size_t>(i)].fill(QColor::fromHsv(i * 60, 255, 255));
    }
    model.SetStatePictures(pictures);
    model.SetRows(ManyRows(100000));
    ASSERT_EQ(model.rowCount(), 100000);
    ASSERT_EQ(model.columnCount(), 2);
    for (int row : {0, 1, 2, 3, 54321, 99999}) {
        const QModelIndex caption = model.index(row, 0);
        EXPECT_EQ(caption.data().toString().toStdString(), "pkg " + std::to_string(row));
        EXPECT_EQ(model.index(row, 1).data().toString().toStdString(),
                  std::to_string(row % 97) + ".0");
        EXPECT_EQ(caption.data(Qt::CheckStateRole).toInt(),
                  row % 5 == 0 ? Qt::Checked : Qt::Unchecked);
        EXPECT_EQ(caption.data(Qt::DecorationRole).value<QPixmap>().cacheKey(),
                  pictures[static_cast<std::size_t>(row % 4)].cacheKey());
        EXPECT_FALSE(model.index(row, 1).data(Qt::CheckStateRole).isValid());
        EXPECT_FALSE(model.flags(caption) & Qt::ItemIsEditable);
    }
    EXPECT_TRUE(model.setData(model.index(7, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(model.Rows()[7].Marked);
    EXPECT_FALSE(model.setData(model.index(7, 1), "x", Qt::EditRole));
    EXPECT_FALSE(model.index(100000, 0).isValid());

    // A state outside 0 to 3 (a hand-edited saved list) shows no picture.
    model.SetState(1, 7);
    EXPECT_FALSE(model.index(1, 0).data(Qt::DecorationRole).isValid());
}

TEST_F(PackagesPage, HundredThousandRowsNeedNoWidgetPerRow) {
    std::vector<CacheRow> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back({"S" + std::to_string(i % 3), "pkg " + std::to_string(i), i % 4, "1.0",
                        "id" + std::to_string(i), "", kRepoIndex});
    WriteCache(rows);
    const int widgetsBefore = int(page->findChildren<QWidget*>().size());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(page->LoadPackageList(""));
    Search()->setText("id99999");
    ClickButton("btnSearch", Qt::RightButton);
    QTest::qWait(1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(List()->model()->rowCount(), 100000);
    EXPECT_EQ(Selected(), 99999);
    EXPECT_EQ(int(page->findChildren<QWidget*>().size()), widgetsBefore);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(elapsed).count(), 10);
    // The decoration for the state picture is served (pictures are resources).
    EXPECT_FALSE(List()->model()->index(1, 0).data(Qt::DecorationRole).value<QPixmap>().isNull());
}

} // namespace
