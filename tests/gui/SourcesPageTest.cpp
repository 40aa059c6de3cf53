#include "GuiTestSupport.h"

#include "app/ui/SourcesPage.h"

#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

namespace {

const QString AUrl = QStringLiteral("http://a.example.org/./Packages");
const QString BUrl = QStringLiteral("http://b.example.org/./Packages");

class SourcesPageTest : public WindowTest {
protected:
    void SetUp() override {
        frm_ = StartWindow();
        list_ = Find<QListWidget>(frm_.get(), "lstSources");
        edit_ = Find<QLineEdit>(frm_.get(), "txtSource");
    }

    void Press(const char* button) { Find<QToolButton>(frm_.get(), button)->click(); }

    void Add(const char* typed) {
        edit_->setText(QString::fromUtf8(typed));
        Press("btnSrcAdd");
    }
    void Apply(const char* typed) {
        edit_->setText(QString::fromUtf8(typed));
        Press("btnSrcApply");
    }

    void ClickRow(int row, Qt::KeyboardModifiers keys = {}) {
        const QRect rect = list_->visualItemRect(list_->item(row));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, keys, rect.center());
    }

    int ModelSelected() const { return PageOf<TSourcesPage>(*frm_)->Sources().Selected(); }

    // The texts shown; the widget and the list it mirrors must never disagree.
    QStringList Texts() const {
        const TSourceList& model = PageOf<TSourcesPage>(*frm_)->Sources();
        EXPECT_EQ(list_->count(), model.Count());
        QStringList texts;
        for (int i = 0; i < list_->count() && i < model.Count(); ++i) {
            texts << list_->item(i)->text();
            EXPECT_EQ(list_->item(i)->text(), model.Text(i));
            EXPECT_EQ(list_->item(i)->checkState() == Qt::Checked, model.Checked(i));
        }
        return texts;
    }

    std::unique_ptr<TfrmMain> frm_;
    QListWidget* list_ = nullptr;
    QLineEdit* edit_ = nullptr;
};

} // namespace

TEST_F(SourcesPageTest, AddNormalisesTheTypedAddressOrSelectsTheSameRepository) {
    Add("a.example.org");
    ASSERT_EQ(Texts(), QStringList{AUrl});
    EXPECT_EQ(list_->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(list_->item(0)->flags() & Qt::ItemIsUserCheckable);
    EXPECT_EQ(list_->item(0)->sizeHint().height(), 17);
    // The new entry is selected and shown as it will be fetched.
    EXPECT_EQ(list_->currentRow(), 0);
    EXPECT_EQ(edit_->text(), AUrl);

    // Junk adds nothing and says why (which junk is TypedSource's table).
    Add("http://my host/");
    EXPECT_EQ(list_->count(), 1);
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Источник не добавлен: ")))
        << errors_[0].toStdString();
    EXPECT_EQ(edit_->text(), QStringLiteral("http://my host/")); // kept for correcting

    // An existing repository, however typed, is selected instead.
    errors_.clear();
    Add("b.example.org");
    ClickRow(1);
    Add("HTTP://A.EXAMPLE.ORG/packages");
    EXPECT_EQ(list_->count(), 2);
    EXPECT_EQ(list_->currentRow(), 0);
    EXPECT_EQ(ModelSelected(), 0);
    EXPECT_EQ(edit_->text(), AUrl);
    EXPECT_TRUE(errors_.isEmpty());
}

// The field shows the selected entry, however it was selected, and Apply
// replaces that entry in place. With no selection on screen (Ctrl+click
// clears it), no entry may be replaced or offered for deletion unseen.
TEST_F(SourcesPageTest, TheFieldFollowsTheSelectionAndApplyReplacesItInPlace) {
    Add("a.example.org");
    Add("b.example.org");
    ClickRow(0);
    EXPECT_EQ(edit_->text(), AUrl);
    edit_->setText(QStringLiteral("half typed"));
    ClickRow(0); // the selected row again
    EXPECT_EQ(edit_->text(), AUrl);
    PageOf<TSourcesPage>(*frm_)->SelectEntry(1); // from code
    EXPECT_EQ(list_->currentRow(), 1);
    EXPECT_EQ(ModelSelected(), 1);
    EXPECT_EQ(edit_->text(), BUrl);
    PageOf<TSourcesPage>(*frm_)->SelectEntry(7);
    EXPECT_EQ(list_->currentRow(), -1);
    EXPECT_TRUE(list_->selectedItems().isEmpty());
    EXPECT_EQ(ModelSelected(), -1);

    ClickRow(0);
    Apply("https://x.org/repo/");
    const QString xUrl = QStringLiteral("https://x.org/repo/./Packages");
    EXPECT_EQ(Texts(), QStringList({xUrl, BUrl}));
    EXPECT_EQ(edit_->text(), xUrl);
    // Another entry's repository changes nothing and says why.
    Apply("b.example.org/");
    ASSERT_EQ(errors_.size(), 1);
    EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Источник не изменён: ")));
    EXPECT_EQ(Texts(), QStringList({xUrl, BUrl}));

    ClickRow(0, Qt::ControlModifier);
    ASSERT_TRUE(list_->selectedItems().isEmpty());
    EXPECT_EQ(ModelSelected(), -1);
    Apply("typed");
    Press("btnSrcDelete");
    EXPECT_TRUE(questions_.isEmpty());
    EXPECT_EQ(Texts(), QStringList({xUrl, BUrl}));
}

TEST_F(SourcesPageTest, DeleteAsksFirstAndRemovesOnlyOnYes) {
    Add("a.example.org");
    Add("b.example.org");
    Add("c.example.org");

    ClickRow(1);
    answer_ = false;
    Press("btnSrcDelete");
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_EQ(questions_[0], QStringLiteral("Удалить источник ") + BUrl + QStringLiteral("?"));
    EXPECT_EQ(list_->count(), 3);

    answer_ = true;
    Press("btnSrcDelete");
    EXPECT_EQ(questions_.size(), 2);
    EXPECT_EQ(Texts().size(), 2);
    EXPECT_EQ(ModelSelected(), -1);
    // The selection is gone, so a second press asks nothing.
    Press("btnSrcDelete");
    EXPECT_EQ(questions_.size(), 2);
    // The Delete key asks like the button: TerminationTest's question.
}

// What the settings keep is SettingsTest's; here: the window saves the boxes
// as the user left them on close and shows them so at the next start.
TEST_F(WindowTest, TheSourceListSurvivesARestartAsTheUserLeftIt) {
    for (const char* name : {"a", "b"})
        WriteFile(QStringLiteral("proc/%1.example.org_Packages").arg(QLatin1String(name)), "");
    const QString b = QStringLiteral("http://b.example.org/Packages");
    for (int run = 0; run < 2; ++run) {
        auto frm = StartWindow();
        auto* list = Find<QListWidget>(frm.get(), "lstSources");
        ASSERT_EQ(list->count(), 2);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(list->item(i)->checkState() == Qt::Checked,
                      run == 0 || list->item(i)->text() != b);
        list->item(PageOf<TSourcesPage>(*frm)->Sources().FindRepository(b))
            ->setCheckState(Qt::Unchecked);
        frm->close();
    }
}
