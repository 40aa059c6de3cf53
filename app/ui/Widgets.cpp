#include "app/ui/Widgets.h"

#include <QGroupBox>
#include <QPixmap>
#include <QProgressBar>

void TToolButton::SetShown(bool shown) const {
    if (Btn)
        Btn->setVisible(shown);
    if (Img)
        Img->setVisible(shown);
}

void TToolButton::SetEnabled(bool enabled) const {
    if (Btn)
        Btn->setEnabled(enabled);
    if (Img)
        Img->setEnabled(enabled);
}

TToolButton MakeToolButton(QWidget* parent, const QString& btnName, const QString& imgName,
                           QPoint pos, int size, const QString& hint) {
    TToolButton pair;
    pair.Btn = new QToolButton(parent);
    pair.Btn->setObjectName(btnName);
    pair.Btn->setGeometry(pos.x(), pos.y(), size, size);
    // Reached with Tab and pressed with Space; a mouse click leaves the focus
    // where it was (in the search field, say).
    pair.Btn->setFocusPolicy(Qt::TabFocus);
    pair.Btn->setToolTip(hint);
    pair.Btn->setAutoRaise(false);

    // The picture lies on top of the button but lets every mouse event through,
    // so a click anywhere on it presses the button and the button's hint shows.
    pair.Img = new QLabel(parent);
    pair.Img->setObjectName(imgName);
    pair.Img->setGeometry(pos.x() + 2, pos.y() + 2, size - 4, size - 4);
    pair.Img->setAlignment(Qt::AlignCenter);
    pair.Img->setAttribute(Qt::WA_TransparentForMouseEvents);
    pair.Img->raise();
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
    setFocusProxy(stop_.Btn);
    connect(stop_.Btn, &QToolButton::clicked, this, &TBusyStrip::stopClicked);
    ShowBusy(false);
}

void TBusyStrip::LoadPictures() {
    LoadPNG(QStringLiteral("STOP"), stop_.Img);
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
