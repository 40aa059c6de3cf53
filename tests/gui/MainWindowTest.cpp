#include "GuiTestSupport.h"

#include "app/ui/SidePanels.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>

namespace {

struct PanelCase {
    const char* pan;
    const char* img;
    int top;
    const char* hint;
    int page;
};

const PanelCase kPanels[] = {
    {"panSources", "imgSources", 4, "Источники", 0},
    {"panPackages", "imgPackages", 54, "Пакеты", 1},
    {"panSync", "imgSync", 104, "Синхронизация", 2},
    {"panSettings", "imgSettings", 154, "Настройки", 3},
};

void ClickPanel(TfrmMain& frm, const char* name) {
    auto* widget = frm.findChild<QWidget*>(QString::fromUtf8(name));
    ASSERT_NE(widget, nullptr) << name;
    QTest::mouseClick(widget, Qt::LeftButton, {}, QPoint(20, 20));
}

} // namespace

TEST_F(WindowTest, WindowFrameAndSidePanelsHaveTheirPlaces) {
    auto frm = StartWindow();
    EXPECT_EQ(frm->size(), QSize(640, 400));
    EXPECT_EQ(frm->minimumSize(), frm->maximumSize()); // cannot be resized
    EXPECT_FALSE(frm->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(frm->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia"));
    EXPECT_EQ(frm->font().pixelSize(), 12);
    if (QFileInfo::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
        EXPECT_EQ(QFontInfo(frm->font()).family(), QStringLiteral("Tahoma"));
    }

    auto* pgMain = Find<QStackedWidget>(frm.get(), "pgMain");
    EXPECT_EQ(pgMain->geometry(), QRect(4, 4, 633, 393));
    // Pages begin right of the 46-pixel strip the side panels cover.
    EXPECT_EQ(pgMain->currentWidget()->geometry().left(), 46);
    const char* pages[] = {"tabSources", "tabPackages", "tabSync", "tabSettings"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pgMain->widget(i)->objectName(), QString::fromUtf8(pages[i]));

    for (const PanelCase& c : kPanels) {
        SCOPED_TRACE(c.pan);
        auto* pan = Find<TSidePanel>(frm.get(), c.pan);
        EXPECT_EQ(pan->geometry(), QRect(4, c.top, 50, 51));
        EXPECT_EQ(pan->toolTip(), QString::fromUtf8(c.hint));
        auto* img = Find<QLabel>(pan, c.img);
        EXPECT_EQ(img->geometry(), QRect(1, 1, 48, 48));
        EXPECT_FALSE(pan->autoFillBackground());
    }
}

TEST_F(WindowTest, PanelsAndTheirPicturesSwitchPagesAndMarkTheActiveTab) {
    auto frm = StartWindow();
    for (const bool viaPicture : {false, true}) {
        for (const PanelCase& c : kPanels) {
            SCOPED_TRACE(std::string(c.pan) + (viaPicture ? " picture" : " panel"));
            ClickPanel(*frm, viaPicture ? c.img : c.pan);
            EXPECT_EQ(frm->ActivePage(), c.page);
            for (const PanelCase& other : kPanels) {
                auto* pan = Find<TSidePanel>(frm.get(), other.pan);
                EXPECT_EQ(pan->HasRightLine(), other.page != c.page) << other.pan;
            }
        }
    }
}

namespace {

struct BusyCase {
    const char* name;
    void (TfrmMain::*start)();
    void (TfrmMain::*stop)();
    const char* bar;
    const char* stopButton;
    const char* stopPicture;
};

const BusyCase kBusy[] = {
    {"refresh", &TfrmMain::DrawRefreshStart, &TfrmMain::DrawRefreshStop, "prSrc", "btnSrcStop",
     "imgSrcStop"},
    {"download", &TfrmMain::DrawDownloadStart, &TfrmMain::DrawDownloadStop, "prPkg", "btnPkgStop",
     "imgPkgStop"},
    {"sync", &TfrmMain::DrawSyncStart, &TfrmMain::DrawSyncStop, "prSync", "btnSyncStop",
     "imgSyncStop"},
};

const char* kStartControls[] = {"btnSrcRefresh", "imgSrcRefresh", "btnPkgDownload",
                                "imgPkgDownload"};
const char* kGroups[] = {"grpSources", "grpPackages", "grpSync"};
const char* kOptions[] = {"chkGetCydia", "chkRefresh", "chkPutDebs", "chkPutAutoInstall",
                          "chkPutCydia"};

} // namespace

TEST_F(WindowTest, EachBusyStateShowsOnlyItsStripAndLocksTheGroups) {
    auto frm = StartWindow();
    // Idle (after start-up and after each stop): no strip, start controls usable.
    const auto expectIdle = [&] {
        for (const BusyCase& c : kBusy) {
            EXPECT_TRUE(Find<QProgressBar>(frm.get(), c.bar)->isHidden()) << c.bar;
            EXPECT_TRUE(Find<QWidget>(frm.get(), c.stopButton)->isHidden()) << c.stopButton;
            EXPECT_FALSE(Find<QWidget>(frm.get(), c.stopButton)->isEnabled()) << c.stopButton;
            EXPECT_TRUE(Find<QWidget>(frm.get(), c.stopPicture)->isHidden()) << c.stopPicture;
        }
        for (const char* name : kStartControls) {
            auto* w = Find<QWidget>(frm.get(), name);
            EXPECT_FALSE(w->isHidden()) << name;
            EXPECT_TRUE(w->isEnabled()) << name;
        }
        for (const char* name : kGroups)
            EXPECT_TRUE(Find<QWidget>(frm.get(), name)->isEnabled()) << name;
    };
    expectIdle();
    for (const BusyCase& c : kBusy) {
        SCOPED_TRACE(c.name);
        auto* bar = Find<QProgressBar>(frm.get(), c.bar);
        bar->setValue(57); // a leftover value must not show at the start

        (frm.get()->*c.start)();
        for (const char* name : kStartControls) {
            auto* w = Find<QWidget>(frm.get(), name);
            EXPECT_TRUE(w->isHidden()) << name;
            EXPECT_FALSE(w->isEnabled()) << name;
        }
        EXPECT_FALSE(bar->isHidden());
        EXPECT_EQ(bar->value(), 0);
        auto* stop = Find<QToolButton>(frm.get(), c.stopButton);
        EXPECT_FALSE(stop->isHidden());
        EXPECT_TRUE(stop->isEnabled());
        EXPECT_FALSE(Find<QWidget>(frm.get(), c.stopPicture)->isHidden());
        for (const BusyCase& other : kBusy) {
            if (&other == &c)
                continue;
            EXPECT_TRUE(Find<QWidget>(frm.get(), other.stopButton)->isHidden()) << other.name;
            EXPECT_TRUE(Find<QWidget>(frm.get(), other.bar)->isHidden()) << other.name;
        }
        for (const char* name : kGroups)
            EXPECT_FALSE(Find<QWidget>(frm.get(), name)->isEnabled()) << name;
        EXPECT_FALSE(Find<QWidget>(frm.get(), "lstSources")->isEnabled());
        EXPECT_FALSE(Find<QWidget>(frm.get(), "btnComp2Phone")->isEnabled());

        // Still usable: the options, the side panels, the state's Stop button.
        for (const char* name : kOptions) {
            auto* chk = Find<QCheckBox>(frm.get(), name);
            EXPECT_TRUE(chk->isEnabled()) << name;
        }
        auto* refreshOption = Find<QCheckBox>(frm.get(), "chkRefresh");
        const bool before = refreshOption->isChecked();
        ClickPanel(*frm, "panSettings");
        ASSERT_EQ(frm->ActivePage(), 3);
        QTest::mouseClick(refreshOption, Qt::LeftButton, {}, QPoint(6, 8));
        EXPECT_NE(refreshOption->isChecked(), before);
        frm->BeginLongOperation();
        EXPECT_FALSE(frm->StopRequested());
        stop->click();
        EXPECT_TRUE(frm->StopRequested());
        frm->EndLongOperation();

        bar->setValue(33);
        (frm.get()->*c.stop)();
        EXPECT_EQ(bar->value(), 0);
        expectIdle();
    }
}

TEST_F(WindowTest, BusyLookDisablesTheWholeWindowAndRestoresIt) {
    auto frm = StartWindow();
    frm->BeginBusyLook();
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia - загрузка пакетов и поиск обновлений"));
    EXPECT_FALSE(frm->isEnabled());
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    frm->EndBusyLook();
    EXPECT_EQ(frm->windowTitle(), QStringLiteral("Orvia"));
    EXPECT_TRUE(frm->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, SettingsPageOptionsAboutBoxAndTabOrder) {
    auto frm = StartWindow();
    struct Option {
        const char* name;
        int top;
        const char* caption;
    } const options[] = {
        {"chkGetCydia", 20, "Копировать источники из Cydia при запуске"},
        {"chkRefresh", 40, "Обновлять источники при запуске программы"},
        {"chkPutDebs", 60, "Копировать пакеты в кэш Cydia после загрузки"},
        {"chkPutAutoInstall", 80, "Копировать пакеты в папку автоустановки Cydia после загрузки"},
        {"chkPutCydia", 100, "Копировать источники в Cydia при завершении работы"},
    };
    for (const Option& o : options) {
        auto* chk = Find<QCheckBox>(frm.get(), o.name);
        EXPECT_EQ(chk->geometry(), QRect(12, o.top, 549, 17)) << o.name;
        EXPECT_EQ(chk->text(), QString::fromUtf8(o.caption)) << o.name;
        EXPECT_EQ(chk->parentWidget()->objectName(), QStringLiteral("grpSettings"));
    }

    // Tab order: the last two options are reached opposite to their order on
    // screen.
    const char* chain[] = {"chkGetCydia", "chkRefresh", "chkPutDebs", "chkPutCydia",
                           "chkPutAutoInstall"};
    for (size_t i = 0; i + 1 < std::size(chain); ++i) {
        QWidget* next = Find<QWidget>(frm.get(), chain[i])->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus)
            next = next->nextInFocusChain();
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(next->objectName(), QString::fromUtf8(chain[i + 1])) << chain[i];
    }
    QWidget* afterList = Find<QWidget>(frm.get(), "lstSources")->nextInFocusChain();
    while (afterList && afterList->focusPolicy() == Qt::NoFocus)
        afterList = afterList->nextInFocusChain();
    EXPECT_EQ(afterList->objectName(), QStringLiteral("txtSource"));

    auto* name = Find<QLabel>(frm.get(), "lblProgramName");
    EXPECT_EQ(name->text(), QStringLiteral("ORVIA"));
    EXPECT_EQ(name->font().pixelSize(), 37);
    EXPECT_TRUE(name->font().bold() && name->font().italic());
    EXPECT_EQ(name->palette().color(QPalette::WindowText), QColor(0, 0, 128));
    auto* slogan = Find<QLabel>(frm.get(), "lblSlogan");
    EXPECT_FALSE(slogan->text().isEmpty());
    EXPECT_EQ(slogan->font().pixelSize(), 19);
    // The slogan must fit its 169-pixel line.
    EXPECT_LE(QFontMetrics(slogan->font()).horizontalAdvance(slogan->text()), 169);
    auto* version = Find<QLabel>(frm.get(), "lblSoftVersion");
    EXPECT_TRUE(version->text().contains(QStringLiteral(ORVIA_VERSION)));
    EXPECT_EQ(Find<QWidget>(frm.get(), "grpAbout")->geometry(), QRect(4, 268, 573, 117));
}

TEST_F(WindowTest, ToolButtonsCarryTheirHintsAndPicturesLieInside) {
    auto frm = StartWindow();
    struct Button {
        const char* btn;
        const char* img;
        QPoint pos;
        const char* hint;
    } const buttons[] = {
        {"btnSrcApply", "imgSrcApply", {454, 297}, "Применить"},
        {"btnSrcAdd", "imgSrcAdd", {490, 297}, "Добавить"},
        {"btnSrcDelete", "imgSrcDelete", {526, 297}, "Удалить"},
        {"btnSrcRefresh", "imgSrcRefresh", {14, 350}, "Обновить выбранные источники"},
        {"btnSrcStop", "imgSrcStop", {530, 350}, "Остановить"},
        {"btnComp2Phone", "imgComp2Phone", {58, 117}, "Скопировать источники в Cydia"},
        {"btnPhone2Comp", "imgPhone2Comp", {58, 181}, "Скопировать источники из Cydia"},
        {"btnCopy2Cache", "imgCopy2Cache", {338, 65}, "Скопировать в кэш"},
        {"btnCopy2AutoInstall",
         "imgCopy2AutoInstall",
         {338, 229},
         "Скопировать в папку автоустановки"},
        {"btnDeleteLocal", "imgDeleteLocal", {298, 297}, "Удалить"},
        {"btnDeleteCache", "imgDeleteCache", {526, 137}, "Удалить"},
        {"btnDeleteAutoInstall", "imgDeleteAutoInstall", {526, 297}, "Удалить"},
        {"btnSyncStop", "imgSyncStop", {530, 350}, "Остановить"},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.btn);
        auto* btn = Find<QToolButton>(frm.get(), b.btn);
        auto* img = Find<QLabel>(frm.get(), b.img);
        EXPECT_EQ(btn->geometry(), QRect(b.pos, QSize(36, 36)));
        EXPECT_EQ(img->geometry(), QRect(b.pos + QPoint(2, 2), QSize(32, 32)));
        EXPECT_EQ(btn->toolTip(), QString::fromUtf8(b.hint));
        EXPECT_TRUE(btn->text().isEmpty());
        EXPECT_TRUE(img->toolTip().isEmpty());
        // A click on the picture must reach the button under it.
        EXPECT_TRUE(img->testAttribute(Qt::WA_TransparentForMouseEvents));
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
    auto frm = StartWindow();
    for (const char* name : {"imgSources", "imgSrcRefresh", "imgSyncStop", "imgComputer1",
                             "imgAbout", "imgAutoInstall"}) {
        const QString resource = QStringLiteral(":/png/TAB_SOURCES");
        if (!QFileInfo::exists(resource))
            GTEST_SKIP() << "pictures not built in";
        auto* img = Find<QLabel>(frm.get(), name);
        EXPECT_FALSE(img->pixmap().isNull()) << name;
    }
    if (QFileInfo::exists(QStringLiteral(":/png/HAND"))) {
        for (const char* name : {"lblAuthor", "lblSite"}) {
            auto* label = Find<QLabel>(frm.get(), name);
            EXPECT_EQ(label->cursor().shape(), Qt::BitmapCursor) << name;
            EXPECT_EQ(label->cursor().hotSpot(), QPoint(11, 1)) << name;
        }
    }
}
