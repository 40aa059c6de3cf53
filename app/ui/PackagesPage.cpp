#include "app/ui/PackagesPage.h"

#include "base/Outcome.h"
#include "base/Utf8Text.h"
#include "base/Workers.h"

#include "app/ui/PackageDetailsPanel.h"
#include "app/ui/PackageListModel.h"
#include "catalogue/Browse.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTableView>

#include <new>
#include <utility>
#include <vector>

namespace {

QString AllCategories() {
    return QStringLiteral(" - Все категории - ");
}

std::string Bytes(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

struct TPackagesPage::Impl {
    TPackagesPage* q = nullptr;
    TWorkFolders folders;

    QComboBox* lstSections = nullptr;
    QTableView* lstPackages = nullptr;
    TPackageListModel* model = nullptr;
    QLineEdit* txtSearch = nullptr;
    TToolButton Search; // btnSearch / imgSearch
    TToolButton Back;   // btnBack / imgBack
    TToolButton MarkAll;
    TPackageDetailsPanel* details = nullptr;
    // The rows shown are every row of the saved list (or of a list just
    // built): saving them keeps the whole catalogue.
    bool rowsWhole = false;

    // Row of the all-categories list to go back to, or -1.
    int backPosition = -1;
    // True while the code itself moves the selection (it shows the details
    // right after); false when the user moves it.
    bool selecting = false;
    // The details already follow a selection the current press of a key or a
    // mouse button made; its release need not read them again.
    bool shownForPress = false;
    TDebianInfo current;
    bool currentFound = false;
    Workers::TWorker learning; // LearnIndexes's worker

    QString CacheFile() const { return folders.ProcDir + QLatin1String(PackageList::FileName); }

    // Tells the user in the window and on stderr (only on stderr without a
    // window to tell).
    void Tell(const QString& text) const {
        if (q->Warn)
            q->Warn(text);
        else
            ReportToStderr(text);
    }

    // A list that cannot be saved says why; no stale list is left in its place.
    void SaveList(const TPackageRows& rows) const {
        QString reason;
        if (!PackageList::SavePackageList(CacheFile(), rows, &reason))
            Tell(QStringLiteral("Список пакетов не сохранён (%1): %2").arg(CacheFile(), reason));
    }
    const TPackageRows& Rows() const { return model->Rows(); }
    int RowCount() const { return static_cast<int>(Rows().size()); }

    int SelectedRow() const {
        const QModelIndexList selected = lstPackages->selectionModel()->selectedRows();
        return selected.isEmpty() ? -1 : selected.first().row();
    }

    // Selects Row (none when it is not a row), scrolls it fully into view and
    // gives it the focus mark.
    void SelectRow(int row) {
        QItemSelectionModel* selection = lstPackages->selectionModel();
        selecting = true;
        if (row < 0 || row >= RowCount()) {
            selection->clear();
        } else {
            const QModelIndex index = model->index(row, TPackageListModel::ColumnCaption);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
            lstPackages->scrollTo(index, QAbstractItemView::EnsureVisible);
        }
        selecting = false;
    }

    // Whatever moved the selection (either mouse button, a key), the details
    // show the selected row.
    void OnSelectionChanged() {
        if (selecting)
            return;
        lstPackagesClick();
        shownForPress = true;
    }

    void ScrollToTop() {
        if (RowCount() > 0)
            lstPackages->scrollTo(model->index(0, 0), QAbstractItemView::EnsureVisible);
    }

    int SelectedCategory() const { return lstSections->currentIndex(); }

    void ChooseCategory(int entry) { lstSections->setCurrentIndex(entry); }

    void lstSectionsClick() {
        const int entry = SelectedCategory();
        const std::string category =
            entry <= 0 ? std::string() : lstSections->itemData(entry).toByteArray().toStdString();
        q->LoadPackageList(category);
    }

    void lstPackagesClick() {
        const int row = SelectedRow();
        if (row < 0) {
            details->HidePackageInfo();
            return;
        }
        currentFound = q->RowDetails(row, current);
        if (currentFound)
            details->ShowPackageInfo(current);
        else
            details->HidePackageInfo();
    }

    void lstPackagesKeyUp() {
        if (!std::exchange(shownForPress, false))
            lstPackagesClick();
    }

    void btnSearchClick() {
        const int selected = SelectedRow();
        const Browse::TSearchStep step =
            Browse::FindNext(Rows(), selected, Bytes(txtSearch->text()));
        if (!step.Searched)
            return;
        backPosition = SelectedCategory() == 0 ? selected : -1;
        SelectRow(step.Row);
        lstPackagesClick();
        if (step.Row <= 0)
            ScrollToTop();
    }

    void txtSearchKeyPress() { btnSearchClick(); }

    void btnSearchMouseUp(Qt::MouseButton button) {
        if (button != Qt::RightButton || Rows().empty() ||
            Browse::PrepareNeedle(Bytes(txtSearch->text())).empty())
            return;
        FastWrap();
    }

    void FastWrap() {
        if (SelectedCategory() != 0) {
            ChooseCategory(0);
            lstSectionsClick();
            backPosition = -1;
        } else {
            backPosition = SelectedRow();
        }
        const int row = Browse::FindIdentifier(Rows(), Bytes(txtSearch->text()));
        if (row < 0)
            return;
        SelectRow(row);
        lstPackagesClick();
    }

    void btnBackClick() {
        if (backPosition < 0)
            return;
        ChooseCategory(0);
        lstSectionsClick();
        // The list may have shrunk since the position was taken: a position
        // past its end selects nothing.
        SelectRow(Browse::BackTarget(backPosition, Rows().size()));
        lstPackagesClick();
        backPosition = -1;
    }

    void lblSectionClick() {
        // Matched on the bytes: two sections that are not UTF-8 would decode to
        // the same replacement characters.
        std::vector<std::string> entries;
        entries.reserve(static_cast<std::size_t>(lstSections->count()));
        entries.push_back(Bytes(lstSections->itemText(0)));
        for (int i = 1; i < lstSections->count(); ++i)
            entries.push_back(lstSections->itemData(i).toByteArray().toStdString());
        const int entry = Browse::FindCategory(entries, details->SectionText());
        if (entry < 0)
            return;
        ChooseCategory(entry);
        lstSectionsClick();
        const int row = Browse::FindIdentifier(Rows(), details->PackageText());
        if (row < 0)
            return;
        SelectRow(row);
        lstPackagesClick();
    }

    void btnMarkAllClick() {
        // The reference copies are overwritten: what was new cannot be told
        // any more, so the user is asked first.
        if (!q->Confirm ||
            !q->Confirm(QStringLiteral("Сбросить все обновления? Новые и обновлённые пакеты "
                                       "перестанут отмечаться как новые.")))
            return;
        PackageList::AcceptIndexes(folders.ProcDir, folders.ListsDir);
        // The flags are cleared in the whole saved list, also in the rows the
        // phone's architecture keeps out of sight.
        TPackageRows whole;
        std::vector<std::string> categories;
        if (PackageList::LoadPackageList(CacheFile(), {}, whole, categories) !=
                PackageList::TLoadResult::Missing &&
            !whole.empty()) {
            PackageList::ClearUpdateFlags(whole);
            SaveList(whole);
        }
        q->ShowAllCategories();
    }

    std::string PhoneArchitecture() const {
        return q->PhoneArchitecture ? q->PhoneArchitecture() : std::string();
    }

    // The marks in all categories, in the group's caption and the download
    // button's hint: marks made in another category are downloaded too.
    void ShowMarkedCount() {
        const int marked = model->MarkedCount();
        q->Group()->setTitle(marked > 0 ? QStringLiteral(" Пакеты (отмечено: %1) ").arg(marked)
                                        : QStringLiteral(" Пакеты "));
        q->pkgDownload_.Btn->setToolTip(
            marked > 0 ? QStringLiteral("Загрузить выбранные пакеты (отмечено: %1)").arg(marked)
                       : QStringLiteral("Загрузить выбранные пакеты"));
    }

    void SetCategoryEntries(const std::vector<std::string>& categories) {
        lstSections->clear();
        lstSections->addItem(AllCategories());
        for (const std::string& category : categories)
            lstSections->addItem(QString::fromUtf8(category), QByteArray::fromStdString(category));
        lstSections->setCurrentIndex(0);
    }

    void BuildList(QWidget* group);
    void ToggleMarkOfSelectedRow();
};

void TPackagesPage::Impl::BuildList(QWidget* group) {
    lstPackages = new QTableView(group);
    lstPackages->setObjectName(QStringLiteral("lstPackages"));
    lstPackages->setGeometry(12, 52, 257, 241);
    model = new TPackageListModel(lstPackages);
    std::array<QPixmap, 4> states;
    for (int i = 0; i < 4; ++i)
        states[static_cast<std::size_t>(i)] = QPixmap(QStringLiteral(":/png/STATE%1").arg(i));
    model->SetStatePictures(states);
    lstPackages->setModel(model);

    lstPackages->setSelectionBehavior(QAbstractItemView::SelectRows);
    lstPackages->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPackages->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstPackages->setShowGrid(true);
    lstPackages->setWordWrap(false);
    lstPackages->setSortingEnabled(false);
    lstPackages->setIconSize(QSize(16, 16));

    // Every row the same height and no header measuring its contents: the
    // view then lays out a hundred thousand rows without touching them.
    QHeaderView* rowsHeader = lstPackages->verticalHeader();
    rowsHeader->hide();
    rowsHeader->setMinimumSectionSize(1);
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(17);

    QHeaderView* columns = lstPackages->horizontalHeader();
    columns->setSectionsClickable(false);
    columns->setSectionsMovable(false);
    columns->setHighlightSections(false);
    columns->setStretchLastSection(false);
    columns->setSectionResizeMode(QHeaderView::Fixed);
    columns->resizeSection(TPackageListModel::ColumnCaption, 167);
    columns->resizeSection(TPackageListModel::ColumnVersion, 70);

    // The selected row stays marked when the list loses the focus.
    QPalette palette = lstPackages->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    lstPackages->setPalette(palette);

    connect(lstPackages->selectionModel(), &QItemSelectionModel::selectionChanged, q,
            [this] { OnSelectionChanged(); });
    lstPackages->viewport()->installEventFilter(
        new TEventHook(lstPackages, [this](QObject*, QEvent* e) {
            if (e->type() == QEvent::MouseButtonPress) {
                shownForPress = false;
            } else if (e->type() == QEvent::MouseButtonRelease &&
                       static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
                // A click on the row already selected reads its details again.
                if (!std::exchange(shownForPress, false))
                    lstPackagesClick();
            }
            return false;
        }));
    // Tab leaves the list for the next control instead of walking its cells.
    lstPackages->setTabKeyNavigation(false);
    lstPackages->installEventFilter(new TEventHook(lstPackages, [this](QObject*, QEvent* e) {
        if (e->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(e)->isAutoRepeat()) {
            shownForPress = false;
        }
        if (e->type() == QEvent::KeyRelease) {
            if (!static_cast<QKeyEvent*>(e)->isAutoRepeat())
                lstPackagesKeyUp();
        } else if (e->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
            ToggleMarkOfSelectedRow();
            return true;
        }
        return false;
    }));
}

void TPackagesPage::Impl::ToggleMarkOfSelectedRow() {
    const int row = SelectedRow();
    if (row >= 0)
        model->SetMarked(row, !Rows()[static_cast<std::size_t>(row)].Marked);
}

TPackagesPage::TPackagesPage(QWidget* parent) : TStripPage(parent), d(new Impl) {
    d->q = this;
    OpenUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    QGroupBox* grpPackages = MakeGroup(QStringLiteral("grpPackages"), QStringLiteral(" Пакеты "));

    d->lstSections = new QComboBox(grpPackages);
    d->lstSections->setObjectName(QStringLiteral("lstSections"));
    d->lstSections->setEditable(false);
    d->lstSections->setGeometry(12, 20, 257, 21);
    d->lstSections->addItem(AllCategories());

    d->BuildList(grpPackages);

    d->txtSearch = new QLineEdit(grpPackages);
    d->txtSearch->setObjectName(QStringLiteral("txtSearch"));
    d->txtSearch->setGeometry(12, 304, 197, 22);

    d->Search =
        MakeToolButton(grpPackages, QStringLiteral("btnSearch"), QStringLiteral("imgSearch"),
                       {214, 301}, 28, QStringLiteral("Поиск по имени, идентификатору и описанию"));
    d->Back = MakeToolButton(grpPackages, QStringLiteral("btnBack"), QStringLiteral("imgBack"),
                             {242, 301}, 28, QStringLiteral("Назад"));
    d->MarkAll =
        MakeToolButton(grpPackages, QStringLiteral("btnMarkAll"), QStringLiteral("imgMarkAll"),
                       {526, 297}, 36, QStringLiteral("Сбросить все обновления"));

    d->details = new TPackageDetailsPanel(grpPackages, d->txtSearch, &OpenUrl);

    pkgDownload_ =
        MakeToolButton(this, QStringLiteral("btnPkgDownload"), QStringLiteral("imgPkgDownload"),
                       {14, 350}, 36, QStringLiteral("Загрузить выбранные пакеты"));
    SetStartButton(pkgDownload_);
    QWidget* strip = MakeStrip(QStringLiteral("prPkg"), QStringLiteral("btnPkgStop"),
                               QStringLiteral("imgPkgStop"));

    // Tab walks the page's controls in reading order.
    setTabOrder(d->lstSections, d->lstPackages);
    setTabOrder(d->lstPackages, d->txtSearch);
    setTabOrder(d->txtSearch, d->Search.Btn);
    setTabOrder(d->Search.Btn, d->Back.Btn);
    setTabOrder(d->Back.Btn, d->details->txtDesc);
    setTabOrder(d->details->txtDesc, d->MarkAll.Btn);
    setTabOrder(d->MarkAll.Btn, pkgDownload_.Btn);
    setTabOrder(pkgDownload_.Btn, strip);

    connect(d->lstSections, &QComboBox::activated, this, [this] { d->lstSectionsClick(); });
    connect(d->txtSearch, &QLineEdit::returnPressed, this, [this] { d->txtSearchKeyPress(); });
    connect(d->Search.Btn, &QToolButton::clicked, this, [this] { d->btnSearchClick(); });
    d->Search.Btn->installEventFilter(new TEventHook(d->Search.Btn, [this](QObject*, QEvent* e) {
        // The button itself ignores the right button; taking its press here
        // makes the release arrive over it.
        if (e->type() != QEvent::MouseButtonPress && e->type() != QEvent::MouseButtonRelease)
            return false;
        auto* mouse = static_cast<QMouseEvent*>(e);
        if (e->type() == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton)
            return true;
        if (e->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::RightButton) {
            if (d->Search.Btn->rect().contains(mouse->position().toPoint()))
                d->btnSearchMouseUp(Qt::RightButton);
            return true;
        }
        return false;
    }));
    connect(d->Back.Btn, &QToolButton::clicked, this, [this] { d->btnBackClick(); });
    connect(d->MarkAll.Btn, &QToolButton::clicked, this, [this] { d->btnMarkAllClick(); });
    connect(d->details, &TPackageDetailsPanel::sectionClicked, this,
            [this] { d->lblSectionClick(); });
    connect(d->model, &TPackageListModel::marksChanged, this, [this] { d->ShowMarkedCount(); });
    connect(pkgDownload_.Btn, &QToolButton::clicked, this, &TPackagesPage::downloadClicked);
}

TPackagesPage::~TPackagesPage() {
    delete d;
}

void TPackagesPage::LoadPictures() {
    LoadStripPictures();
    LoadPNG(QStringLiteral("DOWNLOAD"), pkgDownload_.Img);
    LoadPNG(QStringLiteral("SEARCH"), d->Search.Img);
    LoadPNG(QStringLiteral("MARKALL"), d->MarkAll.Img);
    d->details->LoadPictures();
    LoadPNG(QStringLiteral("BACK"), d->Back.Img);
}

void TPackagesPage::SetFolders(const TWorkFolders& folders) {
    d->folders = folders;
}

bool TPackagesPage::LoadPackageList(const std::string& category) {
    TPackageRows rows;
    std::vector<std::string> categories;
    const std::string architecture = d->PhoneArchitecture();
    bool knowsArchitectures = false;
    const PackageList::TLoadResult result = PackageList::LoadPackageList(
        d->CacheFile(), category, rows, categories, architecture, &knowsArchitectures);
    if (result == PackageList::TLoadResult::Missing)
        return false;
    d->rowsWhole = category.empty() && architecture.empty();
    d->model->SetRows(std::move(rows));
    d->lstPackages->scrollToTop(); // a reloaded list starts at its top
    d->details->HidePackageInfo(); // no row is selected any more
    if (category.empty()) {
        d->SetCategoryEntries(categories);
        d->model->KeepShownMarks();
    }
    // A list saved before the rows' architectures were kept cannot tell the
    // builds of one package apart: the caller builds it again.
    return result == PackageList::TLoadResult::Complete && knowsArchitectures;
}

void TPackagesPage::LoadPackages() {
    // A catalogue built anew forgets the marks, as the reload always did.
    d->model->ClearMarks();
    QStringList skipped;
    d->model->SetRows(
        ::LoadPackages(d->folders.ProcDir, d->folders.ListsDir, d->folders.ArchivesDir, &skipped));
    d->rowsWhole = true;
    d->lstPackages->scrollToTop();
    d->details->HidePackageInfo();
    // The categories follow the list just built, as they follow a loaded one.
    d->SetCategoryEntries(PackageList::Categories(Rows()));
    if (!skipped.isEmpty()) {
        d->Tell(QStringLiteral("Не все индексы загружены:\n") + skipped.join('\n'));
    }
}

void TPackagesPage::SavePackageList() {
    if (d->rowsWhole) {
        d->SaveList(Rows());
        // A list just built shows every architecture until it is narrowed to
        // the phone's, from the file now saved.
        if (!d->PhoneArchitecture().empty())
            ShowAllCategories();
        return;
    }
    // The rows shown are a part of the list: the file is rewritten from
    // itself, so that no row outside the part is lost.
    TPackageRows whole;
    std::vector<std::string> categories;
    if (PackageList::LoadPackageList(d->CacheFile(), {}, whole, categories) ==
        PackageList::TLoadResult::Complete)
        d->SaveList(whole);
}

void TPackagesPage::LearnIndexes() {
    d->learning = Workers::TWorker::StartOrRunHere([folder = d->folders.ProcDir] {
        try {
            ::LearnIndexes(folder);
        } catch (const std::bad_alloc&) {
            // Lookups scan their index as they would have anyway.
        }
    });
}

void TPackagesPage::PhoneArchitectureChanged() {
    if (!Rows().empty() || d->lstSections->count() > 1)
        ShowAllCategories();
}

int TPackagesPage::MarkedCount() const {
    return d->model->MarkedCount();
}

bool TPackagesPage::ShowsAllCategories() const {
    return d->SelectedCategory() <= 0;
}

void TPackagesPage::ShowAllCategories() {
    d->ChooseCategory(0);
    d->lstSectionsClick();
}

void TPackagesPage::HidePackageInfo() {
    d->details->HidePackageInfo();
}

void TPackagesPage::SetBackPositionNone() {
    d->backPosition = -1;
}

const TPackageRows& TPackagesPage::Rows() const {
    return d->Rows();
}

bool TPackagesPage::ShowRowDetails(int row) {
    if (row < 0 || row >= d->RowCount())
        return false;
    d->SelectRow(row);
    d->lstPackagesClick();
    return d->currentFound;
}

bool TPackagesPage::RowDetails(int row, TDebianInfo& info) const {
    if (row < 0 || row >= d->RowCount())
        return false;
    const TPackageRow& shown = d->Rows()[static_cast<std::size_t>(row)];
    info.Package = std::string(shown.Package());
    info.IndexFile = std::string(shown.IndexFile());
    return FindPackage(info, d->folders.ProcDir, TPackageKey::Of(shown),
                       IsHttpsSource && IsHttpsSource(Utf8Text::Decode(info.IndexFile)));
}

const TDebianInfo& TPackagesPage::CurrentPackage() const {
    return d->current;
}

void TPackagesPage::SetRowMarked(int row, bool marked) {
    d->model->SetMarked(row, marked);
}

void TPackagesPage::SetRowState(int row, int state) {
    d->model->SetState(row, state);
}
