#pragma once

#include <QFrame>
#include <QLabel>

// A picture that reports clicks (the side panels' pictures have handlers of
// their own).
class TClickImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// One of the four side panels covering the page control's tab strip: a
// transparent panel with a flat one-line border and a 48 x 48 picture at
// (1, 1). The panel of the active page leaves out its right line so that it
// joins the page.
class TSidePanel : public QFrame {
    Q_OBJECT
public:
    TSidePanel(QWidget* parent, const QString& panName, const QString& imgName, int top,
               const QString& hint);

    TClickImage* Image() const { return img_; }

    // Which of the four border lines are drawn.
    void SetRightLine(bool shown);

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    TClickImage* img_ = nullptr;
    bool rightLine_ = true;
};
