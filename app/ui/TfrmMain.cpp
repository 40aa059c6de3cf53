#include "app/ui/TfrmMain.h"

#include "base/Outcome.h"

#include "app/ui/Dialogs.h"
#include "app/ui/PackagesPage.h"
#include "app/ui/SettingsPage.h"
#include "app/ui/SidePanels.h"
#include "app/ui/SourcesPage.h"
#include "app/ui/SyncPage.h"
#include "app/ui/Widgets.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QPainter>
#include <QStackedWidget>
#include <QTimer>

namespace {
// The page control's own tabs run down its left edge in a strip this wide; the
// side panels cover it.
constexpr int TabStripWidth = 46;
} // namespace

TfrmMain::TfrmMain(const QString& programFilePath, TDialogs* dialogs, QWidget* parent)
    : QWidget(parent), controller_(programFilePath, *this),
      messageBoxes_(std::make_unique<TMessageBoxes>(this)),
      dialogs_(dialogs ? dialogs : messageBoxes_.get()) {
    setObjectName(QStringLiteral("frmMain"));
    BuildWindow();
    ConnectHandlers();
    ConnectRunner();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::ShowError(const QString& text) {
    dialogs_->ShowError(text);
}

bool TfrmMain::Confirm(const QString& text) {
    return dialogs_->Confirm(text);
}

void TfrmMain::Terminate() {
    messageBoxes_->Silence();
    controller_.RequestClose();
}

void TfrmMain::BuildWindow() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(640, 400);
    setWindowTitle(Captions::Caption());

    pgMain = new QStackedWidget(this);
    pgMain->setObjectName(QStringLiteral("pgMain"));
    pgMain->setGeometry(4, 4, 633, 393);
    pgMain->setContentsMargins(TabStripWidth, 0, 0, 0);

    sourcesPage_ = new TSourcesPage(pgMain);
    packagesPage_ = new TPackagesPage(pgMain);
    packagesPage_->setObjectName(QStringLiteral("tabPackages"));
    syncPage_ = new TSyncPage(pgMain);
    settingsPage_ = new TSettingsPage(pgMain);
    pgMain->addWidget(sourcesPage_);
    pgMain->addWidget(packagesPage_);
    pgMain->addWidget(syncPage_);
    pgMain->addWidget(settingsPage_);

    sourcesPage_->Confirm = [this](const QString& text) { return Confirm(text); };
    packagesPage_->Confirm = [this](const QString& text) { return Confirm(text); };
    // The dialog's text goes to stderr as well.
    packagesPage_->Warn = [this](const QString& text) { ShowError(text); };
    sourcesPage_->ShowError = [this](const QString& text) { ShowError(text); };
    sourcesPage_->Architecture = [this] { return settingsPage_->Options().Architecture; };
    packagesPage_->IsHttpsSource = [this](const QString& indexName) {
        return sourcesPage_->Sources().IsHttps(indexName);
    };
    packagesPage_->PhoneArchitecture = [this] {
        return settingsPage_->Options().Architecture.toStdString();
    };

    BuildSidePanels();
}

void TfrmMain::BuildSidePanels() {
    struct TPanelSpec {
        const char* Pan;
        const char* Img;
        int Top;
        const char* Hint;
    };
    static const TPanelSpec specs[4] = {
        {"panSources", "imgSources", 4, "Источники"},
        {"panPackages", "imgPackages", 54, "Пакеты"},
        {"panSync", "imgSync", 104, "Синхронизация"},
        {"panSettings", "imgSettings", 154, "Настройки"},
    };
    for (size_t i = 0; i < panels_.size(); ++i) {
        panels_[i] =
            new TSidePanel(this, QString::fromUtf8(specs[i].Pan), QString::fromUtf8(specs[i].Img),
                           specs[i].Top, QString::fromUtf8(specs[i].Hint));
        panels_[i]->raise();
    }
}

void TfrmMain::ConnectHandlers() {
    connect(pgMain, &QStackedWidget::currentChanged, this, &TfrmMain::pgMainChange);

    connect(panels_[0], &TSidePanel::clicked, this, &TfrmMain::panSourcesClick);
    connect(panels_[0]->Image(), &TClickImage::clicked, this, &TfrmMain::imgSourcesClick);
    connect(panels_[1], &TSidePanel::clicked, this, &TfrmMain::panPackagesClick);
    connect(panels_[1]->Image(), &TClickImage::clicked, this, &TfrmMain::imgPackagesClick);
    connect(panels_[2], &TSidePanel::clicked, this, &TfrmMain::panSyncClick);
    connect(panels_[2]->Image(), &TClickImage::clicked, this, &TfrmMain::imgSyncClick);
    connect(panels_[3], &TSidePanel::clicked, this, &TfrmMain::panSettingsClick);
    connect(panels_[3]->Image(), &TClickImage::clicked, this, &TfrmMain::imgSettingsClick);

    connect(sourcesPage_, &TSourcesPage::refreshClicked, this, &TfrmMain::btnSrcRefreshClick);
    connect(sourcesPage_, &TSourcesPage::stopClicked, this, &TfrmMain::btnSrcStopClick);
    connect(packagesPage_, &TPackagesPage::downloadClicked, this, &TfrmMain::btnPkgDownloadClick);
    connect(packagesPage_, &TPackagesPage::stopClicked, this, &TfrmMain::btnPkgStopClick);
    // A long operation reloads the list when it ends and picks the choice up
    // then; a reload under a running download would move its rows.
    connect(settingsPage_, &TSettingsPage::phoneArchitectureClicked, this,
            &TfrmMain::btnPhoneArchitectureClick);
    connect(settingsPage_, &TSettingsPage::architectureChosen, this, [this] {
        if (controller_.Started() && !LongOperationRunning())
            packagesPage_->PhoneArchitectureChanged();
    });
    connect(syncPage_, &TSyncPage::stopClicked, this, &TfrmMain::btnSyncStopClick);
    ConnectDeviceHandlers();
}

// ---- pages ----

int TfrmMain::ActivePage() const {
    return pgMain->currentIndex();
}

void TfrmMain::SetActivePage(int page) {
    if (page >= 0 && page < pgMain->count())
        pgMain->setCurrentIndex(page); // raises nothing when already active
}

void TfrmMain::RedrawTabs() {
    const int active = ActivePage();
    if (active < 0 || active >= static_cast<int>(panels_.size()))
        return;
    for (size_t i = 0; i < panels_.size(); ++i)
        panels_[i]->SetRightLine(static_cast<int>(i) != active);
    update(); // the page frame's left line follows the active panel
}

void TfrmMain::pgMainChange() {
    RedrawTabs();
    if (ActivePage() == PageSync && controller_.Started())
        CacheRefresh();
}

void TfrmMain::panSourcesClick() {
    SetActivePage(PageSources);
}
void TfrmMain::imgSourcesClick() {
    SetActivePage(PageSources);
}
void TfrmMain::panPackagesClick() {
    SetActivePage(PagePackages);
}
void TfrmMain::imgPackagesClick() {
    SetActivePage(PagePackages);
}
void TfrmMain::panSyncClick() {
    SetActivePage(PageSync);
}
void TfrmMain::imgSyncClick() {
    SetActivePage(PageSync);
}
void TfrmMain::panSettingsClick() {
    SetActivePage(PageSettings);
}
void TfrmMain::imgSettingsClick() {
    SetActivePage(PageSettings);
}

// The page's flat frame. Its left line lies under the side panels' right
// lines; it is drawn only below the panels, so the active panel, which has no
// right line, opens into the page.
void TfrmMain::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    const QRect page = pgMain->geometry().adjusted(TabStripWidth + 3, 0, -1, -1);
    const int panelsBottom = panels_.back()->geometry().bottom();
    painter.drawLine(page.left(), page.top(), page.right(), page.top());
    painter.drawLine(page.right(), page.top(), page.right(), page.bottom());
    painter.drawLine(page.left(), page.bottom(), page.right(), page.bottom());
    painter.drawLine(page.left(), panelsBottom, page.left(), page.bottom());
}

// ---- closing ----

void TfrmMain::RequestClose() {
    controller_.RequestClose();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    FormClose(event);
}
