#pragma once

#include <QLabel>
#include <QPoint>
#include <QString>
#include <QToolButton>

#include <functional>
#include <utility>

class QProgressBar;
class QWidget;

// Every button of the window is a picture with a clickable, caption-less button
// lying over it at the same place. Showing, hiding, enabling or disabling the
// button always does the same to its picture, so the two never part.
struct TToolButton {
    QToolButton* btn = nullptr;
    QLabel* img = nullptr;

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

// The bottom strip of a page: progress bar at (60, 356), 461 wide, with a
// percentage.
QProgressBar* MakeStripProgress(QWidget* parent, const QString& name);

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
