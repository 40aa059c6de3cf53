#include "app/ui/Widgets.h"

#include <QGroupBox>
#include <QPixmap>
#include <QProgressBar>

void TToolButton::SetShown(bool shown) const {
    if (btn)
        btn->setVisible(shown);
    if (img)
        img->setVisible(shown);
}

void TToolButton::SetEnabled(bool enabled) const {
    if (btn)
        btn->setEnabled(enabled);
    if (img)
        img->setEnabled(enabled);
}

TToolButton MakeToolButton(QWidget* parent, const QString& btnName, const QString& imgName,
                           QPoint pos, int size, const QString& hint) {
    TToolButton pair;
    pair.btn = new QToolButton(parent);
    pair.btn->setObjectName(btnName);
    pair.btn->setGeometry(pos.x(), pos.y(), size, size);
    // Reached with Tab and pressed with Space; a mouse click leaves the focus
    // where it was (in the search field, say).
    pair.btn->setFocusPolicy(Qt::TabFocus);
    pair.btn->setToolTip(hint);
    pair.btn->setAutoRaise(false);

    // The picture lies on top of the button but lets every mouse event through,
    // so a click anywhere on it presses the button and the button's hint shows.
    pair.img = new QLabel(parent);
    pair.img->setObjectName(imgName);
    pair.img->setGeometry(pos.x() + 2, pos.y() + 2, size - 4, size - 4);
    pair.img->setAlignment(Qt::AlignCenter);
    pair.img->setAttribute(Qt::WA_TransparentForMouseEvents);
    pair.img->raise();
    return pair;
}

void LoadPNG(const QString& name, QLabel* img) {
    if (!img)
        return;
    QPixmap picture;
    if (picture.load(QStringLiteral(":/png/") + name, "PNG"))
        img->setPixmap(picture);
}

TBusyStrip::TBusyStrip(QWidget* parent, const QString& barName, const QString& stopName,
                       const QString& stopPictureName)
    : QWidget(parent) {
    setGeometry(60, 350, 506, 36);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(barName);
    bar_->setGeometry(0, 6, 461, 24);
    bar_->setRange(0, 100);
    bar_->setTextVisible(true);
    bar_->setFormat(QStringLiteral("%p%"));
    bar_->setAlignment(Qt::AlignCenter);
    stop_ =
        MakeToolButton(this, stopName, stopPictureName, {470, 0}, 36, QStringLiteral("Остановить"));
    // The page's tab order reaches the Stop button through the strip.
    setFocusProxy(stop_.btn);
    connect(stop_.btn, &QToolButton::clicked, this, &TBusyStrip::stopClicked);
    ShowBusy(false);
}

void TBusyStrip::LoadPictures() {
    LoadPNG(QStringLiteral("STOP"), stop_.img);
}

void TBusyStrip::ShowBusy(bool busy) {
    if (busy) {
        bar_->setValue(0);
        bar_->show();
        stop_.SetShown(true);
        stop_.SetEnabled(true);
    } else {
        stop_.SetEnabled(false);
        stop_.SetShown(false);
        bar_->hide();
        bar_->setValue(0);
    }
}

void TBusyStrip::SetProgress(int percent) {
    bar_->setValue(percent);
}

void TStripPage::SetBusy(bool busy) {
    if (strip_)
        strip_->ShowBusy(busy);
}

void TStripPage::SetProgress(int percent) {
    if (strip_)
        strip_->SetProgress(percent);
}

void TStripPage::SetStartShown(bool shown) {
    start_.SetEnabled(shown);
    start_.SetShown(shown);
}

void TStripPage::SetGroupEnabled(bool enabled) {
    if (group_)
        group_->setEnabled(enabled);
}

QGroupBox* TStripPage::MakeGroup(const QString& name, const QString& title) {
    group_ = new QGroupBox(title, this);
    group_->setObjectName(name);
    group_->setGeometry(4, 4, 573, 337);
    return group_;
}

QWidget* TStripPage::MakeStrip(const QString& barName, const QString& stopName,
                               const QString& stopPictureName) {
    strip_ = new TBusyStrip(this, barName, stopName, stopPictureName);
    connect(strip_, &TBusyStrip::stopClicked, this, &TStripPage::stopClicked);
    return strip_;
}

void TStripPage::LoadStripPictures() {
    if (strip_)
        strip_->LoadPictures();
}
