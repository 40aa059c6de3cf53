#include "GuiTestSupport.h"

#include "app/ui/SourcesPage.h"

#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

namespace {

class SourcesPageTest : public WindowTest {
protected:
    void SetUp() override {
        frm_ = StartWindow();
        list_ = Find<QListWidget>(frm_.get(), "lstSources");
        edit_ = Find<QLineEdit>(frm_.get(), "txtSource");
    }

    void Press(const char* button) { Find<QToolButton>(frm_.get(), button)->click(); }

    void Add(const QString& typed) {
        edit_->setText(typed);
        Press("btnSrcAdd");
    }

    void ClickRow(int row) {
        const QRect rect = list_->visualItemRect(list_->item(row));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, rect.center());
    }

    QStringList Texts() const {
        QStringList texts;
        for (int i = 0; i < list_->count(); ++i)
            texts << list_->item(i)->text();
        return texts;
    }

    // The widget and the list it mirrors must never disagree.
    void ExpectMirrorsModel() const {
        const TSourceList& model = PageOf<TSourcesPage>(*frm_)->Sources();
        ASSERT_EQ(list_->count(), model.Count());
        for (int i = 0; i < model.Count(); ++i) {
            EXPECT_EQ(list_->item(i)->text(), model.Text(i));
            EXPECT_EQ(list_->item(i)->checkState() == Qt::Checked, model.Checked(i));
        }
    }

    std::unique_ptr<TfrmMain> frm_;
    QListWidget* list_ = nullptr;
    QLineEdit* edit_ = nullptr;
};

} // namespace

TEST_F(SourcesPageTest, AddNormalisesTheTypedAddressAndChecksIt) {
    Add(QStringLiteral("repo.example.org"));
    ASSERT_EQ(list_->count(), 1);
    EXPECT_EQ(list_->item(0)->text(), QStringLiteral("http://repo.example.org/./Packages"));
    EXPECT_EQ(list_->item(0)->checkState(), Qt::Checked);
    EXPECT_TRUE(list_->item(0)->flags() & Qt::ItemIsUserCheckable);
    EXPECT_EQ(list_->item(0)->sizeHint().height(), 17);
    // The new entry is selected and shown as it will be fetched.
    EXPECT_EQ(list_->currentRow(), 0);
    EXPECT_EQ(edit_->text(), QStringLiteral("http://repo.example.org/./Packages"));
    ExpectMirrorsModel();

    // Junk adds nothing and says why.
    for (const char* junk : {"", "http://", "http://my host/", "ftp://x.org/"}) {
        errors_.clear();
        Add(QString::fromUtf8(junk));
        EXPECT_EQ(list_->count(), 1) << junk;
        ASSERT_EQ(errors_.size(), 1) << junk;
        EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Источник не добавлен: ")))
            << errors_[0].toStdString();
        EXPECT_EQ(edit_->text(), QString::fromUtf8(junk)); // kept for correcting
    }
}

TEST_F(SourcesPageTest, AddingAnExistingRepositorySelectsItInstead) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));
    Add(QStringLiteral("c.example.org"));
    ClickRow(2);
    ASSERT_EQ(edit_->text(), QStringLiteral("http://c.example.org/./Packages"));

    edit_->setText(QStringLiteral("HTTP://B.EXAMPLE.ORG/packages"));
    Press("btnSrcAdd");
    EXPECT_EQ(list_->count(), 3);
    EXPECT_EQ(list_->currentRow(), 1);
    EXPECT_EQ(PageOf<TSourcesPage>(*frm_)->Sources().Selected(), 1);
    EXPECT_EQ(edit_->text(), QStringLiteral("http://b.example.org/./Packages"));
    EXPECT_TRUE(errors_.isEmpty());
}

TEST_F(SourcesPageTest, ClickingARowMirrorsItAndApplyReplacesItInPlace) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));

    // Without a selection Apply does nothing.
    PageOf<TSourcesPage>(*frm_)->SelectEntry(-1);
    edit_->setText(QStringLiteral("http://ignored/Packages"));
    Press("btnSrcApply");
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("http://a.example.org/./Packages"),
                                    QStringLiteral("http://b.example.org/./Packages")}));

    ClickRow(0);
    EXPECT_EQ(edit_->text(), QStringLiteral("http://a.example.org/./Packages"));
    edit_->setText(QStringLiteral("https://x.org/repo/"));
    Press("btnSrcApply");
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("https://x.org/repo/./Packages"),
                                    QStringLiteral("http://b.example.org/./Packages")}));
    EXPECT_EQ(edit_->text(), QStringLiteral("https://x.org/repo/./Packages"));
    // Junk, or another entry's repository, changes nothing and says why.
    for (const char* refused : {"not an address", "b.example.org/"}) {
        errors_.clear();
        edit_->setText(QString::fromUtf8(refused));
        Press("btnSrcApply");
        ASSERT_EQ(errors_.size(), 1) << refused;
        EXPECT_TRUE(errors_[0].startsWith(QStringLiteral("Источник не изменён: ")));
    }
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("https://x.org/repo/./Packages"),
                                    QStringLiteral("http://b.example.org/./Packages")}));
    ExpectMirrorsModel();
}

TEST_F(SourcesPageTest, DeleteAsksFirstAndRemovesOnlyOnYes) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));

    PageOf<TSourcesPage>(*frm_)->SelectEntry(-1);
    Press("btnSrcDelete"); // nothing selected: no question
    EXPECT_TRUE(questions_.isEmpty());

    ClickRow(1);
    answer_ = false;
    Press("btnSrcDelete");
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_EQ(questions_[0], QStringLiteral("Удалить источник http://b.example.org/./Packages?"));
    EXPECT_EQ(list_->count(), 2);

    answer_ = true;
    Press("btnSrcDelete");
    EXPECT_EQ(questions_.size(), 2);
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("http://a.example.org/./Packages")}));
    EXPECT_EQ(PageOf<TSourcesPage>(*frm_)->Sources().Selected(), -1);
    // The selection is gone, so a second press asks nothing.
    Press("btnSrcDelete");
    EXPECT_EQ(questions_.size(), 2);
    ExpectMirrorsModel();
}

TEST_F(SourcesPageTest, ApplyAndDeleteFollowTheVisibleSelection) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));
    ClickRow(0);
    // Ctrl+click on the selected row clears the selection on screen: no entry
    // may be replaced or offered for deletion unseen.
    QTest::mouseClick(list_->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list_->visualItemRect(list_->item(0)).center());
    ASSERT_TRUE(list_->selectedItems().isEmpty());
    EXPECT_EQ(PageOf<TSourcesPage>(*frm_)->Sources().Selected(), -1);
    edit_->setText(QStringLiteral("typed"));
    Press("btnSrcApply");
    Press("btnSrcDelete");
    EXPECT_TRUE(questions_.isEmpty());
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("http://a.example.org/./Packages"),
                                    QStringLiteral("http://b.example.org/./Packages")}));
}

TEST_F(SourcesPageTest, ClickOnTheSelectedRowMirrorsItAgain) {
    Add(QStringLiteral("a.example.org"));
    ClickRow(0);
    edit_->setText(QStringLiteral("half typed"));
    ClickRow(0);
    EXPECT_EQ(edit_->text(), QStringLiteral("http://a.example.org/./Packages"));
}

TEST_F(SourcesPageTest, DeleteKeyAsksAndDeletesLikeTheButton) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));
    ClickRow(1);
    QTest::keyClick(list_, Qt::Key_Delete);
    ASSERT_EQ(questions_.size(), 1);
    EXPECT_EQ(Texts(), QStringList({QStringLiteral("http://a.example.org/./Packages")}));
    ExpectMirrorsModel();
}

TEST_F(SourcesPageTest, SelectingFromCodeShowsTheSelectedEntryInTheEditField) {
    Add(QStringLiteral("a.example.org"));
    Add(QStringLiteral("b.example.org"));
    edit_->setText(QStringLiteral("typed"));
    PageOf<TSourcesPage>(*frm_)->SelectEntry(1);
    EXPECT_EQ(list_->currentRow(), 1);
    EXPECT_EQ(PageOf<TSourcesPage>(*frm_)->Sources().Selected(), 1);
    EXPECT_EQ(edit_->text(), QStringLiteral("http://b.example.org/./Packages"));
    PageOf<TSourcesPage>(*frm_)->SelectEntry(7);
    EXPECT_EQ(list_->currentRow(), -1);
    EXPECT_TRUE(list_->selectedItems().isEmpty());
    EXPECT_EQ(PageOf<TSourcesPage>(*frm_)->Sources().Selected(), -1);
}

TEST_F(WindowTest, TheSourceListSurvivesARestartAsTheUserLeftIt) {
    WriteFile(QStringLiteral("proc/a.example.org_Packages"), "");
    WriteFile(QStringLiteral("proc/b.example.org_Packages"), "");
    WriteFile(QStringLiteral("proc/c.example.org_Packages"), "");
    QStringList left;
    {
        auto frm = StartWindow();
        auto* list = Find<QListWidget>(frm.get(), "lstSources");
        ASSERT_EQ(list->count(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(list->item(i)->checkState(), Qt::Checked);
        TSourcesPage* page = PageOf<TSourcesPage>(*frm);
        // Delete c (its index stays), uncheck b, add one that never refreshes.
        page->SelectEntry(page->Sources().FindRepository("c.example.org"));
        page->btnSrcDeleteClick();
        list->item(page->Sources().FindRepository("b.example.org"))->setCheckState(Qt::Unchecked);
        page->txtSource->setText(QStringLiteral("https://never.example.org/repo/"));
        page->btnSrcAddClick();
        left = page->Sources().Texts();
        frm->close();
        EXPECT_TRUE(frm->isHidden());
    }
    ASSERT_EQ(left.size(), 3);
    EXPECT_EQ(left[2], QStringLiteral("https://never.example.org/repo/./Packages"));

    auto frm = StartWindow();
    auto* list = Find<QListWidget>(frm.get(), "lstSources");
    EXPECT_EQ(PageOf<TSourcesPage>(*frm)->Sources().Texts(), left);
    ASSERT_EQ(list->count(), 3);
    for (int i = 0; i < 3; ++i) {
        const bool isB = list->item(i)->text() == QStringLiteral("http://b.example.org/Packages");
        EXPECT_EQ(list->item(i)->checkState(), isB ? Qt::Unchecked : Qt::Checked)
            << list->item(i)->text().toStdString();
    }
}
