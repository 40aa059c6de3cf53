#include "app/ui/SidePanels.h"

#include <QMouseEvent>
#include <QPainter>

void TClickImage::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mousePressEvent(event);
}

TSidePanel::TSidePanel(QWidget* parent, const QString& panName, const QString& imgName, int top,
                       const QString& hint)
    : QFrame(parent) {
    setObjectName(panName);
    setGeometry(4, top, 50, 51);
    setToolTip(hint);
    setFrameShape(QFrame::NoFrame);
    setAutoFillBackground(false);
    img_ = new TClickImage(this);
    img_->setObjectName(imgName);
    img_->setGeometry(1, 1, 48, 48);
    img_->setAlignment(Qt::AlignCenter);
}

void TSidePanel::SetRightLine(bool shown) {
    if (rightLine_ == shown)
        return;
    rightLine_ = shown;
    update();
}

void TSidePanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    const int r = width() - 1;
    const int b = height() - 1;
    painter.drawLine(0, 0, r, 0); // top
    painter.drawLine(0, 0, 0, b); // left
    painter.drawLine(0, b, r, b); // bottom
    if (rightLine_)
        painter.drawLine(r, 0, r, b);
}

void TSidePanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        event->accept();
        emit clicked();
        return;
    }
    QFrame::mousePressEvent(event);
}
