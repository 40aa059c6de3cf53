#include "PackagesPageFixture.h"

#include "app/ui/PackageListModel.h"

#include <QApplication>
#include <QGroupBox>
#include <QPixmap>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <tuple>

namespace {

// Tab walks the page's controls and leaves the list instead of its cells;
// Shift+Tab goes back; Space presses the button that has the focus; the
// selection stays marked without the focus.
TEST_F(PackagesPage, TabReachesEveryControlAndButtonsAnswer) {
    LoadRepository();
    QApplication::setActiveWindow(page_.get());
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

    const QPalette palette = List()->palette();
    EXPECT_EQ(palette.color(QPalette::Inactive, QPalette::Highlight),
              palette.color(QPalette::Active, QPalette::Highlight));
}

const char* const AllCategories = " - Все категории - ";

// One step of a user browsing the repository: what is done ("row N" and
// "right N" click a row, "find TEXT" and "jump TEXT" click Search with the
// left and the right button, "enter TEXT", "back", "category NAME", "label"
// clicks the category label, "down" the arrow key in the list), then the row
// selected (-1: none), the identifier shown ("": details hidden) and, where
// given, the category chosen.
struct TStep {
    const char* Act;
    int Selected;
    const char* Shown;
    const char* Category = nullptr;
};

TEST_F(PackagesPage, SearchJumpsBackAndCategoriesMoveTheSelection) {
    const struct {
        const char* Name;
        std::vector<TStep> Steps;
    } cases[] = {
        // Each search starts below the selection (the wrap is BrowseTest's,
        // a failed search's look the 100,000 rows').
        {"search steps",
         {{"find   tweak  ", 1, "com.example.tweak"}, {"find   tweak  ", 3, "com.other.tweaker"}}},
        {"enter searches", {{"enter other", 3, "com.other.tweaker"}}},
        // A blank text neither searches nor jumps, nor takes a back position.
        {"blank text",
         {{"row 2", 2, "org.sample.theme"},
          {"find  \t ", 2, "org.sample.theme"},
          {"back", 2, "org.sample.theme"},
          {"jump  \t ", 2, "org.sample.theme"},
          {"back", 2, "org.sample.theme"}}},
        // Back returns once; the position is used up.
        {"jump and back",
         {{"row 0", 0, "net.bare.tool"},
          {"jump org.sample.theme", 2, "org.sample.theme"},
          {"back", 0, "net.bare.tool"},
          {"row 3", 3, "com.other.tweaker"},
          {"back", 3, "com.other.tweaker"}}},
        // A jump from a category shows all and drops the earlier back position.
        {"jump from a category",
         {{"row 0", 0, "net.bare.tool"},
          {"jump zed", 4, ""},
          {"category Tweaks", -1, "", "Tweaks"},
          {"row 1", 1, "com.other.tweaker"},
          {"jump org.sample.theme", 2, "org.sample.theme", AllCategories},
          {"back", 2, "org.sample.theme", AllCategories}}},
        // A category narrows the list and drops a selection it may not hold.
        {"category drops the selection",
         {{"row 2", 2, "org.sample.theme"}, {"category Tweaks", -1, "", "Tweaks"}}},
        {"search inside a category",
         {{"category Tweaks", -1, ""},
          {"row 0", 0, "com.example.tweak"},
          {"find other", 1, "com.other.tweaker"},
          {"back", 1, "com.other.tweaker", "Tweaks"}}},
        {"category label keeps the package",
         {{"row 3", 3, "com.other.tweaker"}, {"label", 1, "com.other.tweaker", "Tweaks"}}},
        {"right click and keys select",
         {{"row 1", 1, "com.example.tweak"},
          {"right 3", 3, "com.other.tweaker"},
          {"row 0", 0, "net.bare.tool"},
          {"down", 1, "com.example.tweak"}}},
    };
    for (const auto& c : cases) {
        NewPage();
        LoadRepository();
        for (const TStep& step : c.Steps) {
            SCOPED_TRACE(std::string(c.Name) + ": " + step.Act);
            const std::string act = step.Act;
            const std::size_t space = act.find(' ');
            const std::string verb = act.substr(0, space);
            const QString text = QString::fromStdString(act.substr(space + 1));
            if (verb == "row" || verb == "right")
                ClickRow(text.toInt(), verb == "row" ? Qt::LeftButton : Qt::RightButton);
            else if (verb == "find" || verb == "jump" || verb == "enter") {
                Search()->setText(text);
                if (verb == "enter")
                    QTest::keyClick(Search(), Qt::Key_Return);
                else
                    ClickButton("btnSearch", verb == "find" ? Qt::LeftButton : Qt::RightButton);
            } else if (verb == "back")
                ClickButton("btnBack");
            else if (verb == "category")
                ChooseCategory(text);
            else if (verb == "label")
                QTest::mouseClick(Find<QLabel>("lblSection"), Qt::LeftButton);
            else if (verb == "down") {
                List()->setFocus();
                QTest::keyClick(List(), Qt::Key_Down);
            }
            EXPECT_EQ(Selected(), step.Selected);
            EXPECT_EQ(Shown("lblName"), *step.Shown != '\0');
            if (*step.Shown) {
                EXPECT_EQ(LabelText("lblPackage").toStdString(), step.Shown);
            }
            if (step.Category) {
                EXPECT_EQ(Sections()->currentText().toStdString(), step.Category);
            }
            EXPECT_EQ(Sections()->count(), 4); // all, Themes, Tweaks, Utilities
        }
    }
}

// Sections that are not UTF-8 decode to the same replacement characters; the
// label must still lead to its own category.
TEST_F(PackagesPage, CategoryLabelMatchesSectionsByTheirBytes) {
    Write(folders_.ProcDir + RepoIndex, "Package: a\nSection: \xfe\n\nPackage: b\nSection: \xff\n");
    WriteCache(
        {{"\xfe", "A", 0, "", "a", "", RepoIndex}, {"\xff", "B", 0, "", "b", "", RepoIndex}});
    for (const auto& [row, section, package] :
         {std::tuple{0, "\xfe", "a"}, std::tuple{1, "\xff", "b"}}) {
        ASSERT_TRUE(page_->LoadPackageList(""));
        ASSERT_EQ(Sections()->count(), 3);
        ClickRow(row);
        QTest::mouseClick(Find<QLabel>("lblSection"), Qt::LeftButton);
        EXPECT_EQ(Sections()->currentData().toByteArray(), QByteArray(section)) << package;
        EXPECT_EQ(Identifiers(), std::vector<std::string>{package});
        EXPECT_EQ(Selected(), 0) << package;
    }
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
    EXPECT_TRUE(page_->Rows()[2].Marked);
    EXPECT_EQ(index.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_FALSE(page_->Rows()[2].Marked);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box.center());
    ClickRow(1); // Space marks the selected row
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    auto markedIds = [this] {
        std::vector<std::string> ids;
        for (const TPackageRow& row : page_->Rows())
            if (row.Marked)
                ids.emplace_back(row.Package());
        return ids;
    };
    // Marks live on their rows through category changes (DownloadTest marks
    // in two); the count of all of them stays in sight.
    ChooseCategory("Themes");
    EXPECT_EQ(markedIds(), std::vector<std::string>{"org.sample.theme"});
    EXPECT_EQ(page_->MarkedCount(), 2);
    EXPECT_EQ(Find<QGroupBox>("grpPackages")->title(), " Пакеты (отмечено: 2) ");

    // A catalogue built anew forgets them.
    Write(folders_.ProcDir + RepoIndex, RepoStanzas);
    page_->LoadPackages();
    EXPECT_TRUE(markedIds().empty());
    EXPECT_EQ(page_->MarkedCount(), 0);
    EXPECT_EQ(Find<QGroupBox>("grpPackages")->title(), " Пакеты ");
}

// What the reset writes is PackageListTest's; here: it asks first, and Yes
// shows the cleared flags, saves them and accepts the indexes.
TEST_F(PackagesPage, ResetAsksFirstThenShowsAndSavesTheClearedFlags) {
    const std::string repo = std::string(RepoStanzas) + "\nPackage: a\nVersion: 1\n";
    Write(folders_.ProcDir + RepoIndex, repo);
    WriteCache({{"S", "charlie", 3, "1", "c", "", RepoIndex},
                {"T", "bravo", 1, "1", "b", "", RepoIndex},
                {"T", "alpha", 0, "1", "a", "", RepoIndex}});
    ASSERT_TRUE(page_->LoadPackageList("T"));
    ClickRow(1);
    std::vector<QString> questions;
    bool answer = false;
    page_->Confirm = [&](const QString& text) {
        questions.push_back(text);
        return answer;
    };
    const std::string before = Read(folders_.ProcDir + "cache.txt");
    ClickButton("btnMarkAll");
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(questions[0].startsWith("Сбросить все обновления?"));
    EXPECT_EQ(Read(folders_.ProcDir + "cache.txt"), before);
    EXPECT_EQ(Read(folders_.ListsDir + RepoIndex), "<missing>");

    answer = true;
    ClickButton("btnMarkAll");
    EXPECT_FALSE(Shown("lblName")) << "no row is selected after the reset";
    EXPECT_EQ(Sections()->currentIndex(), 0);
    std::vector<std::pair<std::string, int>> shown;
    for (const TPackageRow& row : page_->Rows())
        shown.emplace_back(row.Package(), row.State);
    EXPECT_EQ(shown, (std::vector<std::pair<std::string, int>>{{"a", 0}, {"b", 1}, {"c", 1}}));
    EXPECT_NE(Read(folders_.ProcDir + "cache.txt"), before);
    EXPECT_EQ(Read(folders_.ListsDir + RepoIndex), repo);
}

// ---- the list model ----

// Caption with the mark and the state's picture, then the version; only the
// mark can be changed. (Many rows: the page's test below.)
TEST(PackageListModelTest, ServesColumnsMarksAndStatePictures) {
    TPackageListModel model;
    const std::array<QPixmap, 4> pictures{QPixmap(16, 16), QPixmap(16, 16), QPixmap(16, 16),
                                          QPixmap(16, 16)};
    model.SetStatePictures(pictures);
    TPackageRows rows(2);
    rows[0].SetCaption("first");
    rows[0].SetVersion("1.0");
    rows[0].State = 3;
    rows[0].Marked = true;
    rows[1].State = 7; // a hand-edited saved list
    model.SetRows(rows);
    ASSERT_EQ(model.columnCount(), 2);
    const QModelIndex caption = model.index(0, 0);
    const QModelIndex version = model.index(0, 1);
    EXPECT_EQ(caption.data().toString(), "first");
    EXPECT_EQ(version.data().toString(), "1.0");
    EXPECT_EQ(caption.data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_FALSE(version.data(Qt::CheckStateRole).isValid());
    EXPECT_EQ(caption.data(Qt::DecorationRole).value<QPixmap>().cacheKey(), pictures[3].cacheKey());
    EXPECT_FALSE(model.index(1, 0).data(Qt::DecorationRole).isValid()); // no picture for 7
    EXPECT_FALSE(model.flags(caption) & Qt::ItemIsEditable);
    EXPECT_TRUE(model.setData(model.index(1, 0), Qt::Checked, Qt::CheckStateRole));
    EXPECT_TRUE(model.Rows()[1].Marked);
    EXPECT_FALSE(model.setData(version, "x", Qt::EditRole));
    EXPECT_FALSE(model.index(2, 0).isValid());
}

// The list serves its rows without a widget each, and starts at its top after
// a failed search and after a reload.
TEST_F(PackagesPage, HundredThousandRowsNeedNoWidgetPerRow) {
    std::vector<TCacheRow> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back({"S" + std::to_string(i % 3), "pkg " + std::to_string(i), i % 4, "1.0",
                        "id" + std::to_string(i), "", RepoIndex});
    WriteCache(rows);
    const int widgetsBefore = int(page_->findChildren<QWidget*>().size());
    ASSERT_TRUE(page_->LoadPackageList(""));
    Search()->setText("id99999");
    ClickButton("btnSearch", Qt::RightButton);
    EXPECT_EQ(List()->model()->rowCount(), 100000);
    ASSERT_EQ(Selected(), 99999);
    EXPECT_EQ(int(page_->findChildren<QWidget*>().size()), widgetsBefore);
    // The decoration for the state picture is served (pictures are resources).
    EXPECT_FALSE(List()->model()->index(1, 0).data(Qt::DecorationRole).value<QPixmap>().isNull());

    ASSERT_NE(List()->indexAt(QPoint(5, 5)).row(), 0);
    ClickButton("btnSearch");
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(List()->indexAt(QPoint(5, 5)).row(), 0);
    List()->scrollToBottom();
    ASSERT_GT(List()->verticalScrollBar()->value(), 0);
    ChooseCategory("S1");
    ASSERT_EQ(page_->Rows().size(), 33333u);
    EXPECT_EQ(List()->verticalScrollBar()->value(), 0);
}

} // namespace
