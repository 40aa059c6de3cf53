#include "GuiTestSupport.h"

#include "app/ui/SidePanels.h"

#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

namespace {

// A side panel, its picture and the page it shows.
struct TPanelCase {
    const char* Panel;
    const char* Picture;
    int Page;
};

const TPanelCase Panels[] = {
    {"panSources", "imgSources", 0},
    {"panPackages", "imgPackages", 1},
    {"panSync", "imgSync", 2},
    {"panSettings", "imgSettings", 3},
};

// Whether the panel draws its right border line, read from its picture.
bool DrawsRightLine(TSidePanel* panel) {
    const QImage image = panel->grab().toImage();
    return image.pixel(image.width() - 1, image.height() / 2) ==
           panel->palette().color(QPalette::Dark).rgb();
}

void ClickPanel(TfrmMain& frm, const char* name) {
    auto* widget = frm.findChild<QWidget*>(QString::fromUtf8(name));
    ASSERT_NE(widget, nullptr) << name;
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(20, 20));
}

// Every child of Container lies inside Bounds; no two controls (anything but
// the pictures, which decorate around them) overlap by more than the one-pixel
// line two neighbours may share.
void ExpectLaidOut(const QWidget* container, const QRect& bounds) {
    QWidgetList controls;
    for (QWidget* w : container->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->objectName().isEmpty() || w->isWindow())
            continue;
        EXPECT_TRUE(bounds.contains(w->geometry()))
            << w->objectName().toStdString() << " leaves " << container->objectName().toStdString();
        if (!w->objectName().startsWith(QLatin1String("img")))
            controls << w;
    }
    for (qsizetype i = 0; i < controls.size(); ++i)
        for (qsizetype j = i + 1; j < controls.size(); ++j) {
            const QRect common = controls[i]->geometry() & controls[j]->geometry();
            EXPECT_TRUE(common.width() <= 1 || common.height() <= 1)
                << controls[i]->objectName().toStdString() << " overlaps "
                << controls[j]->objectName().toStdString();
        }
}

// A busy state: how it starts and stops, and its strip's controls.
struct TBusyCase {
    const char* Name;
    void (TfrmMain::*Start)();
    void (TfrmMain::*Stop)();
    const char* Bar;
    const char* StopButton;
    const char* StopPicture;
};

const TBusyCase BusyCases[] = {
    {"refresh", &TfrmMain::DrawRefreshStart, &TfrmMain::DrawRefreshStop, "prSrc", "btnSrcStop",
     "imgSrcStop"},
    {"download", &TfrmMain::DrawDownloadStart, &TfrmMain::DrawDownloadStop, "prPkg", "btnPkgStop",
     "imgPkgStop"},
    {"sync", &TfrmMain::DrawSyncStart, &TfrmMain::DrawSyncStop, "prSync", "btnSyncStop",
     "imgSyncStop"},
};

const char* const StartControls[] = {"btnSrcRefresh", "imgSrcRefresh", "btnPkgDownload",
                                     "imgPkgDownload"};
const char* const Locked[] = {"grpSources", "grpPackages", "grpSync", "lstSources",
                              "btnComp2Phone"};
const char* const Options[] = {"chkGetCydia", "chkRefresh", "chkPutDebs", "chkPutAutoInstall",
                               "chkPutCydia"};

// The next widget after Name that takes the focus.
QString NextFocused(const TfrmMain& frm, const char* name) {
    QWidget* next = frm.findChild<QWidget*>(QString::fromUtf8(name))->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus)
        next = next->nextInFocusChain();
    return next ? next->objectName() : QString();
}

} // namespace

// The layout rules in place of the positions themselves (the screenshot
// program shows the look): on each page every control lies inside its group
// and none covers another; the side panels stay left of the pages; the
// window has a fixed size.
TEST_F(WindowTest, NoControlOverlapsAnotherOrLeavesItsGroup) {
    auto frm = StartWindow();
    EXPECT_EQ(frm->minimumSize(), frm->maximumSize());
    EXPECT_FALSE(frm->windowFlags() & Qt::WindowMaximizeButtonHint);
    auto* pgMain = Find<QStackedWidget>(frm.get(), "pgMain");
    for (int i = 0; i < pgMain->count(); ++i) {
        // Pages not shown yet have no size of their own: each gets the
        // shown page's.
        QWidget* page = pgMain->widget(i);
        SCOPED_TRACE(page->objectName().toStdString());
        ExpectLaidOut(page, pgMain->currentWidget()->rect());
        for (const QGroupBox* group : page->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly))
            ExpectLaidOut(group, group->rect());
    }
    for (const TPanelCase& c : Panels) {
        const QRect panel = Find<TSidePanel>(frm.get(), c.Panel)->geometry();
        const QWidget* group = Find<QWidget>(frm.get(), "grpSources");
        EXPECT_LT(panel.right(), group->mapTo(frm.get(), QPoint(0, 0)).x()) << c.Panel;
        EXPECT_TRUE(frm->rect().contains(panel)) << c.Panel;
    }
}

TEST_F(WindowTest, PanelsAndTheirPicturesSwitchPagesAndMarkTheActiveTab) {
    auto frm = StartWindow();
    for (const bool viaPicture : {false, true}) {
        for (const TPanelCase& c : Panels) {
            SCOPED_TRACE(std::string(c.Panel) + (viaPicture ? " picture" : " panel"));
            ClickPanel(*frm, viaPicture ? c.Picture : c.Panel);
            EXPECT_EQ(frm->ActivePage(), c.Page);
            for (const TPanelCase& other : Panels) {
                auto* pan = Find<TSidePanel>(frm.get(), other.Panel);
                EXPECT_EQ(DrawsRightLine(pan), other.Page != c.Page) << other.Panel;
            }
        }
    }
}

TEST_F(WindowTest, EachBusyStateShowsOnlyItsStripAndLocksTheGroups) {
    auto frm = StartWindow();
    // Busy's strip alone shows, the start controls and the groups are locked
    // while busy, and the options stay usable (Busy nullptr: idle).
    const auto expectState = [&](const TBusyCase* busy) {
        for (const TBusyCase& c : BusyCases) {
            for (const char* name : {c.Bar, c.StopButton, c.StopPicture})
                EXPECT_EQ(Find<QWidget>(frm.get(), name)->isHidden(), &c != busy) << name;
            EXPECT_EQ(Find<QWidget>(frm.get(), c.StopButton)->isEnabled(), &c == busy);
        }
        for (const char* name : StartControls) {
            EXPECT_EQ(Find<QWidget>(frm.get(), name)->isHidden(), busy != nullptr) << name;
            EXPECT_EQ(Find<QWidget>(frm.get(), name)->isEnabled(), busy == nullptr) << name;
        }
        for (const char* name : Locked)
            EXPECT_EQ(Find<QWidget>(frm.get(), name)->isEnabled(), busy == nullptr) << name;
        for (const char* name : Options)
            EXPECT_TRUE(Find<QWidget>(frm.get(), name)->isEnabled()) << name;
    };
    expectState(nullptr);
    for (const TBusyCase& c : BusyCases) {
        SCOPED_TRACE(c.Name);
        auto* bar = Find<QProgressBar>(frm.get(), c.Bar);
        bar->setValue(57); // a leftover value must not show at the start
        (frm.get()->*c.Start)();
        EXPECT_EQ(bar->value(), 0);
        expectState(&c);

        // Still usable: the side panels and the state's Stop button.
        ClickPanel(*frm, "panSettings");
        EXPECT_EQ(frm->ActivePage(), 3);
        frm->Runner().Begin();
        EXPECT_FALSE(frm->Runner().StopRequested());
        Find<QToolButton>(frm.get(), c.StopButton)->click();
        EXPECT_TRUE(frm->Runner().StopRequested());
        frm->Runner().End();

        bar->setValue(33);
        (frm.get()->*c.Stop)();
        EXPECT_EQ(bar->value(), 0);
        expectState(nullptr);
    }
}

TEST_F(WindowTest, BusyLookDisablesTheWholeWindowAndRestoresIt) {
    auto frm = StartWindow();
    frm->BeginBusyLook();
    // Its titles are RefreshWindowTest's.
    EXPECT_FALSE(frm->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    frm->EndBusyLook();
    EXPECT_TRUE(frm->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, SettingsTabOrderAndAboutBox) {
    auto frm = StartWindow();

    // Tab order: the last two options are reached opposite to their order on
    // screen.
    const char* chain[] = {"chkGetCydia", "chkRefresh", "chkPutDebs", "chkPutCydia",
                           "chkPutAutoInstall"};
    for (size_t i = 0; i + 1 < std::size(chain); ++i)
        EXPECT_EQ(NextFocused(*frm, chain[i]), QString::fromUtf8(chain[i + 1])) << chain[i];
    EXPECT_EQ(NextFocused(*frm, "lstSources"), QStringLiteral("txtSource"));

    // The slogan must fit its 169-pixel line.
    auto* slogan = Find<QLabel>(frm.get(), "lblSlogan");
    EXPECT_LE(QFontMetrics(slogan->font()).horizontalAdvance(slogan->text()), 169);
    auto* version = Find<QLabel>(frm.get(), "lblSoftVersion");
    EXPECT_TRUE(version->text().contains(QStringLiteral(ORVIA_VERSION)));
}

TEST_F(WindowTest, EveryToolButtonHasAHintAndItsPictureLetsClicksThrough) {
    auto frm = StartWindow();
    for (const QToolButton* btn : frm->findChildren<QToolButton*>()) {
        const std::string name = btn->objectName().toStdString();
        EXPECT_FALSE(btn->toolTip().isEmpty()) << name;
        auto* img = frm->findChild<QLabel*>(QLatin1String("img") + btn->objectName().mid(3));
        ASSERT_NE(img, nullptr) << name;
        EXPECT_TRUE(btn->geometry().contains(img->geometry())) << name;
        // A click on the picture must reach the button under it.
        EXPECT_TRUE(img->testAttribute(Qt::WA_TransparentForMouseEvents)) << name;
    }
}

TEST(ApplicationSetup, StandardButtonsSpeakRussianAndPicturesAreInstalled) {
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("Да")))
        << box.button(QMessageBox::Yes)->text().toStdString();
    EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QStringLiteral("Нет")));
    if (QFileInfo::exists(QStringLiteral(":/png/ICON"))) {
        EXPECT_FALSE(QApplication::windowIcon().isNull());
    }
}

TEST_F(WindowTest, PicturesAndTheHandPointerAreLoadedAtStartup) {
    if (!QFileInfo::exists(QStringLiteral(":/png/TAB_SOURCES")))
        GTEST_SKIP() << "pictures not built in";
    auto frm = StartWindow();
    for (const char* name : {"imgSources", "imgSrcRefresh", "imgSyncStop", "imgComputer1",
                             "imgAbout", "imgAutoInstall"})
        EXPECT_FALSE(Find<QLabel>(frm.get(), name)->pixmap().isNull()) << name;
    if (QFileInfo::exists(QStringLiteral(":/png/HAND"))) {
        for (const char* name : {"lblAuthor", "lblSite"}) {
            auto* label = Find<QLabel>(frm.get(), name);
            EXPECT_EQ(label->cursor().shape(), Qt::BitmapCursor) << name;
            EXPECT_EQ(label->cursor().hotSpot(), QPoint(11, 1)) << name;
        }
    }
}
