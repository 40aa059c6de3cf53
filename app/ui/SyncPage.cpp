#include "app/ui/SyncPage.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>

#include <algorithm>

namespace {

QLabel* MakePicture(QWidget* parent, const QString& name, QRect geometry) {
    auto* img = new QLabel(parent);
    img->setObjectName(name);
    img->setGeometry(geometry);
    img->setAlignment(Qt::AlignCenter);
    return img;
}

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect geometry) {
    auto* lbl = new QLabel(text, parent);
    lbl->setObjectName(name);
    lbl->setGeometry(geometry);
    return lbl;
}

// The package lists show one file name per 14-pixel line; ShowNames sorts
// them (the list's own sorting would put every capital first).
QListWidget* MakeFileList(QWidget* parent, const QString& name, QRect geometry) {
    auto* lst = new QListWidget(parent);
    lst->setObjectName(name);
    lst->setGeometry(geometry);
    lst->setSortingEnabled(false);
    lst->setUniformItemSizes(true);
    lst->setSelectionMode(QAbstractItemView::SingleSelection);
    lst->setStyleSheet(QStringLiteral("QListWidget::item { height: 14px; padding: 0px; }"));
    return lst;
}

// The quiet line inside a phone list that says why its folder could not be
// read: grey, wrapped, and letting clicks through to the list.
QLabel* MakeProblemLine(QListWidget* list, const QString& name) {
    auto* lbl = new QLabel(list);
    lbl->setObjectName(name);
    lbl->setGeometry(list->rect().adjusted(6, 6, -6, -6));
    lbl->setAlignment(Qt::AlignCenter);
    lbl->setWordWrap(true);
    lbl->setAttribute(Qt::WA_TransparentForMouseEvents);
    lbl->setStyleSheet(QStringLiteral("color: gray;"));
    lbl->hide();
    return lbl;
}

} // namespace

void TSyncPage::ShowNames(TCacheList list, QStringList names) {
    // Names equal but for letter case keep a fixed order among themselves.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    QListWidget* lst = ListOf(list);
    lst->clear();
    lst->addItems(names);
}

QString TSyncPage::Selected(TCacheList list) const {
    const QList<QListWidgetItem*> items = ListOf(list)->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

bool TSyncPage::ShowListProblem(TCacheList list, const QString& reason) {
    QLabel* line = problems_[static_cast<std::size_t>(list)];
    if (!line || line->text() == reason)
        return false;
    line->setText(reason);
    line->setVisible(!reason.isEmpty());
    ListOf(list)->setToolTip(reason);
    return true;
}

TSyncPage::TSyncPage(QWidget* parent) : TStripPage(parent) {
    setObjectName(QStringLiteral("tabSync"));

    QGroupBox* grpSync = MakeGroup(QStringLiteral("grpSync"), QStringLiteral(" Синхронизация "));

    imgComputer1_ = MakePicture(grpSync, QStringLiteral("imgComputer1"), {8, 106, 48, 48});
    sourceCopies_[0] =
        MakeToolButton(grpSync, QStringLiteral("btnComp2Phone"), QStringLiteral("imgComp2Phone"),
                       {58, 117}, 36, QStringLiteral("Скопировать источники в Cydia"));
    imgiPhone1_ = MakePicture(grpSync, QStringLiteral("imgiPhone1"), {88, 110, 48, 48});

    imgiPhone2_ = MakePicture(grpSync, QStringLiteral("imgiPhone2"), {16, 174, 48, 48});
    sourceCopies_[1] =
        MakeToolButton(grpSync, QStringLiteral("btnPhone2Comp"), QStringLiteral("imgPhone2Comp"),
                       {58, 181}, 36, QStringLiteral("Скопировать источники из Cydia"));
    imgComputer2_ = MakePicture(grpSync, QStringLiteral("imgComputer2"), {96, 170, 48, 48});

    imgLocalCache_ = MakePicture(grpSync, QStringLiteral("imgLocalCache"), {152, 18, 16, 16});
    MakeLabel(grpSync, QStringLiteral("lblLocalCache"), QStringLiteral("Локальный кэш"),
              {172, 18, 157, 16});
    lists_[0] = MakeFileList(grpSync, QStringLiteral("lstLocalCache"), {152, 36, 181, 257});

    imgCache_ = MakePicture(grpSync, QStringLiteral("imgCache"), {380, 18, 16, 16});
    MakeLabel(grpSync, QStringLiteral("lblCache"), QStringLiteral("Кэш Cydia"), {400, 18, 157, 16});
    lists_[1] = MakeFileList(grpSync, QStringLiteral("lstCache"), {380, 36, 181, 97});
    problems_[1] = MakeProblemLine(lists_[1], QStringLiteral("lblCacheProblem"));

    imgAutoInstall_ = MakePicture(grpSync, QStringLiteral("imgAutoInstall"), {380, 178, 16, 16});
    MakeLabel(grpSync, QStringLiteral("lblAutoInstall"), QStringLiteral("Автоустановка Cydia"),
              {400, 178, 157, 16});
    lists_[2] = MakeFileList(grpSync, QStringLiteral("lstAutoInstall"), {380, 196, 181, 97});
    problems_[2] = MakeProblemLine(lists_[2], QStringLiteral("lblAutoInstallProblem"));

    packageCopies_[0] =
        MakeToolButton(grpSync, QStringLiteral("btnCopy2Cache"), QStringLiteral("imgCopy2Cache"),
                       {338, 65}, 36, QStringLiteral("Скопировать в кэш"));
    packageCopies_[1] = MakeToolButton(grpSync, QStringLiteral("btnCopy2AutoInstall"),
                                       QStringLiteral("imgCopy2AutoInstall"), {338, 229}, 36,
                                       QStringLiteral("Скопировать в папку автоустановки"));
    deletions_[0] =
        MakeToolButton(grpSync, QStringLiteral("btnDeleteLocal"), QStringLiteral("imgDeleteLocal"),
                       {298, 297}, 36, QStringLiteral("Удалить"));
    deletions_[1] =
        MakeToolButton(grpSync, QStringLiteral("btnDeleteCache"), QStringLiteral("imgDeleteCache"),
                       {526, 137}, 36, QStringLiteral("Удалить"));
    deletions_[2] = MakeToolButton(grpSync, QStringLiteral("btnDeleteAutoInstall"),
                                   QStringLiteral("imgDeleteAutoInstall"), {526, 297}, 36,
                                   QStringLiteral("Удалить"));

    MakeStrip(QStringLiteral("prSync"), QStringLiteral("btnSyncStop"),
              QStringLiteral("imgSyncStop"));

    setTabOrder(lists_[0], lists_[1]);
    setTabOrder(lists_[1], lists_[2]);

    connect(sourceCopies_[0].Btn, &QToolButton::clicked, this, &TSyncPage::sourcesToPhoneClicked);
    connect(sourceCopies_[1].Btn, &QToolButton::clicked, this, &TSyncPage::sourcesFromPhoneClicked);
    const TCacheList targets[] = {TCacheList::Cache, TCacheList::AutoInstall};
    for (std::size_t i = 0; i < packageCopies_.size(); ++i)
        connect(packageCopies_[i].Btn, &QToolButton::clicked, this,
                [this, target = targets[i]] { emit copyClicked(target); });
    for (std::size_t i = 0; i < deletions_.size(); ++i)
        connect(deletions_[i].Btn, &QToolButton::clicked, this,
                [this, list = static_cast<TCacheList>(i)] { emit deleteClicked(list); });
}

void TSyncPage::LoadPictures() {
    LoadStripPictures();
    LoadPNG(QStringLiteral("IPHONE"), imgiPhone1_);
    LoadPNG(QStringLiteral("IPHONE"), imgiPhone2_);
    LoadPNG(QStringLiteral("COMPUTERF"), imgComputer1_);
    LoadPNG(QStringLiteral("COMPUTER"), imgComputer2_);
    for (const TToolButton& copy : sourceCopies_)
        LoadPNG(QStringLiteral("RIGHT"), copy.Img);
    for (const TToolButton& copy : packageCopies_)
        LoadPNG(QStringLiteral("RIGHT"), copy.Img);
    for (const TToolButton& deletion : deletions_)
        LoadPNG(QStringLiteral("DELETE"), deletion.Img);
    LoadPNG(QStringLiteral("DRIVE"), imgLocalCache_);
    LoadPNG(QStringLiteral("PHONE1"), imgCache_);
    LoadPNG(QStringLiteral("PHONE2"), imgAutoInstall_);
}
