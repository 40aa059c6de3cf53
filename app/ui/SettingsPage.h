#pragma once

#include "control/Settings.h"

#include <QLabel>
#include <QWidget>

class QCheckBox;
class QComboBox;

// A label drawn with a recessed (engraved) look: a light copy of the text one
// pixel down and right under the text itself.
class TEngravedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The Settings page: the option check boxes, the phone's architecture and the
// about box.
class TSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit TSettingsPage(QWidget* parent = nullptr);

    void LoadPictures();

    TOptions Options() const;
    void SetOptions(const TOptions& options);
    // Chooses Architecture (one of Settings::PhoneArchitectures, or empty for
    // all) as if the user had.
    void SetArchitecture(const QString& architecture);

signals:
    // The button that asks the phone for its architecture (the window asks).
    void phoneArchitectureClicked();
    // The user chose an architecture in the list.
    void architectureChosen();

private:
    QCheckBox* chkGetCydia_ = nullptr;
    QCheckBox* chkRefresh_ = nullptr;
    QCheckBox* chkPutDebs_ = nullptr;
    QCheckBox* chkPutAutoInstall_ = nullptr;
    QCheckBox* chkPutCydia_ = nullptr;
    // Entry 0 lists every architecture; the others carry their architecture as
    // item data.
    QComboBox* lstArchitecture_ = nullptr;
    QLabel* imgAbout_ = nullptr;
};
