#include "app/ui/Widgets.h"

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

QProgressBar* MakeStripProgress(QWidget* parent, const QString& name) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setGeometry(60, 356, 461, 24);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(true);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setAlignment(Qt::AlignCenter);
    return bar;
}
