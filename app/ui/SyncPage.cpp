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

} // namespace

void TSyncPage::ShowNames(QListWidget* list, QStringList names) {
    // Names equal but for letter case keep a fixed order among themselves.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = a.compare(b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    list->clear();
    list->addItems(names);
}

TSyncPage::TSyncPage(QWidget* parent) : TStripPage(parent) {
    setObjectName(QStringLiteral("tabSync"));

    QGroupBox* grpSync = MakeGroup(QStringLiteral("grpSync"), QStringLiteral(" Синхронизация "));

    imgComputer1 = MakePicture(grpSync, QStringLiteral("imgComputer1"), {8, 106, 48, 48});
    Comp2Phone =
        MakeToolButton(grpSync, QStringLiteral("btnComp2Phone"), QStringLiteral("imgComp2Phone"),
                       {58, 117}, 36, QStringLiteral("Скопировать источники в Cydia"));
    imgiPhone1 = MakePicture(grpSync, QStringLiteral("imgiPhone1"), {88, 110, 48, 48});

    imgiPhone2 = MakePicture(grpSync, QStringLiteral("imgiPhone2"), {16, 174, 48, 48});
    Phone2Comp =
        MakeToolButton(grpSync, QStringLiteral("btnPhone2Comp"), QStringLiteral("imgPhone2Comp"),
                       {58, 181}, 36, QStringLiteral("Скопировать источники из Cydia"));
    imgComputer2 = MakePicture(grpSync, QStringLiteral("imgComputer2"), {96, 170, 48, 48});

    imgLocalCache = MakePicture(grpSync, QStringLiteral("imgLocalCache"), {152, 18, 16, 16});
    lblLocalCache = MakeLabel(grpSync, QStringLiteral("lblLocalCache"),
                              QStringLiteral("Локальный кэш"), {172, 18, 157, 16});
    lstLocalCache = MakeFileList(grpSync, QStringLiteral("lstLocalCache"), {152, 36, 181, 257});

    imgCache = MakePicture(grpSync, QStringLiteral("imgCache"), {380, 18, 16, 16});
    lblCache = MakeLabel(grpSync, QStringLiteral("lblCache"), QStringLiteral("Кэш Cydia"),
                         {400, 18, 157, 16});
    lstCache = MakeFileList(grpSync, QStringLiteral("lstCache"), {380, 36, 181, 97});

    imgAutoInstall = MakePicture(grpSync, QStringLiteral("imgAutoInstall"), {380, 178, 16, 16});
    lblAutoInstall = MakeLabel(grpSync, QStringLiteral("lblAutoInstall"),
                               QStringLiteral("Автоустановка Cydia"), {400, 178, 157, 16});
    lstAutoInstall = MakeFileList(grpSync, QStringLiteral("lstAutoInstall"), {380, 196, 181, 97});

    Copy2Cache =
        MakeToolButton(grpSync, QStringLiteral("btnCopy2Cache"), QStringLiteral("imgCopy2Cache"),
                       {338, 65}, 36, QStringLiteral("Скопировать в кэш"));
    Copy2AutoInstall = MakeToolButton(grpSync, QStringLiteral("btnCopy2AutoInstall"),
                                      QStringLiteral("imgCopy2AutoInstall"), {338, 229}, 36,
                                      QStringLiteral("Скопировать в папку автоустановки"));
    DeleteLocal =
        MakeToolButton(grpSync, QStringLiteral("btnDeleteLocal"), QStringLiteral("imgDeleteLocal"),
                       {298, 297}, 36, QStringLiteral("Удалить"));
    DeleteCache =
        MakeToolButton(grpSync, QStringLiteral("btnDeleteCache"), QStringLiteral("imgDeleteCache"),
                       {526, 137}, 36, QStringLiteral("Удалить"));
    DeleteAutoInstall = MakeToolButton(grpSync, QStringLiteral("btnDeleteAutoInstall"),
                                       QStringLiteral("imgDeleteAutoInstall"), {526, 297}, 36,
                                       QStringLiteral("Удалить"));

    MakeStrip(QStringLiteral("prSync"), QStringLiteral("btnSyncStop"),
              QStringLiteral("imgSyncStop"));

    setTabOrder(lstLocalCache, lstCache);
    setTabOrder(lstCache, lstAutoInstall);
}

void TSyncPage::LoadPictures() {
    LoadStripPictures();
    LoadPNG(QStringLiteral("IPHONE"), imgiPhone1);
    LoadPNG(QStringLiteral("IPHONE"), imgiPhone2);
    LoadPNG(QStringLiteral("COMPUTERF"), imgComputer1);
    LoadPNG(QStringLiteral("COMPUTER"), imgComputer2);
    LoadPNG(QStringLiteral("RIGHT"), Comp2Phone.Img);
    LoadPNG(QStringLiteral("RIGHT"), Phone2Comp.Img);
    LoadPNG(QStringLiteral("RIGHT"), Copy2Cache.Img);
    LoadPNG(QStringLiteral("RIGHT"), Copy2AutoInstall.Img);
    LoadPNG(QStringLiteral("DELETE"), DeleteLocal.Img);
    LoadPNG(QStringLiteral("DELETE"), DeleteCache.Img);
    LoadPNG(QStringLiteral("DELETE"), DeleteAutoInstall.Img);
    LoadPNG(QStringLiteral("DRIVE"), imgLocalCache);
    LoadPNG(QStringLiteral("PHONE1"), imgCache);
    LoadPNG(QStringLiteral("PHONE2"), imgAutoInstall);
}
