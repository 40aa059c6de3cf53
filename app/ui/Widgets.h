#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <functional>
#include <utility>

class QGroupBox;
class QProgressBar;

// Every button of the window is a picture with a clickable, caption-less button
// lying over it at the same place. Showing, hiding, enabling or disabling the
// button always does the same to its picture, so the two never part.
struct TToolButton {
    QToolButton* Btn = nullptr;
    QLabel* Img = nullptr;

    void SetShown(bool shown) const;
    void SetEnabled(bool enabled) const;
};

// Creates the pair at Pos within Parent: a button of Size x Size (36, or 28 for
// the small ones) with the picture (Size - 4 square) 2 pixels inside it. The
// names become the widgets' object names ("btnSrcAdd", "imgSrcAdd"). The
// button takes the focus from Tab only (not from a click) and shows Hint as its
// tooltip.
TToolButton MakeToolButton(QWidget* parent, const QString& btnName, const QString& imgName,
                           QPoint pos, int size, const QString& hint);

// Passes a widget's events to a function first; true from it swallows them.
class TEventHook : public QObject {
public:
    TEventHook(QObject* parent, std::function<bool(QObject*, QEvent*)> hook)
        : QObject(parent), hook_(std::move(hook)) {}
    bool eventFilter(QObject* watched, QEvent* event) override { return hook_(watched, event); }

private:
    std::function<bool(QObject*, QEvent*)> hook_;
};

// Loads the program's picture resource Name (":/png/" + Name) into Img.
void LoadPNG(const QString& name, QLabel* img);

// The bottom strip of a page while a long operation runs: a progress bar with
// a percentage and the Stop button beside it, both hidden while idle. It lies
// at (60, 350) on its page; the page keeps its start button left of it.
class TBusyStrip : public QWidget {
    Q_OBJECT
public:
    // The names become the object names of the bar ("prSrc"), the button
    // ("btnSrcStop") and its picture ("imgSrcStop").
    TBusyStrip(QWidget* parent, const QString& barName, const QString& stopName,
               const QString& stopPictureName);

    void LoadPictures();
    // Shown busy, the bar starts from 0 and the Stop button is usable; idle,
    // both are hidden and the bar is back at 0.
    void ShowBusy(bool busy);
    void SetProgress(int percent);

signals:
    void stopClicked();

private:
    QProgressBar* bar_ = nullptr;
    TToolButton stop_;
};

// A page whose group box is locked and whose strip shows while a long
// operation runs. The window draws the busy states through these calls and
// hears the Stop button through stopClicked; it never touches the widgets.
class TStripPage : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    void SetBusy(bool busy);
    void SetProgress(int percent);
    // The button that starts the page's operation (none on some pages):
    // hidden and disabled, or shown and usable.
    void SetStartShown(bool shown);
    void SetGroupEnabled(bool enabled);

signals:
    void stopClicked();

protected:
    // The page's group box at (4, 4), 573 x 337, named Name.
    QGroupBox* MakeGroup(const QString& name, const QString& title);
    // The strip with its widgets' names (TBusyStrip). In the tab order it
    // stands for its Stop button.
    QWidget* MakeStrip(const QString& barName, const QString& stopName,
                       const QString& stopPictureName);
    void LoadStripPictures();
    void SetStartButton(const TToolButton& start) { start_ = start; }
    QGroupBox* Group() const { return group_; }

private:
    QGroupBox* group_ = nullptr;
    TBusyStrip* strip_ = nullptr;
    TToolButton start_;
};

// The window captions that say what the program is doing. Every operation that
// takes time sets one of them when it starts and Caption() when it ends.
namespace Captions {
inline QString Caption() {
    return QStringLiteral("Orvia");
}
inline QString CaptionLoadingPackages() {
    return QStringLiteral("Orvia - загрузка пакетов и поиск обновлений");
}
inline QString CaptionRefreshingSources() {
    return QStringLiteral("Orvia - обновление источников");
}
inline QString CaptionDownloadingPackages() {
    return QStringLiteral("Orvia - загрузка выбранных пакетов");
}
inline QString CaptionCopyingToPhone() {
    return QStringLiteral("Orvia - копирование данных в Cydia");
}
inline QString CaptionCopyingFromPhone() {
    return QStringLiteral("Orvia - копирование данных из Cydia");
}
inline QString CaptionUpdatingFileLists() {
    return QStringLiteral("Orvia - обновление списков файлов");
}
inline QString CaptionShuttingDown() {
    return QStringLiteral("Orvia - завершение работы");
}
} // namespace Captions
