#pragma once

#include "control/Settings.h"

#include <QLabel>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;

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

    QGroupBox* grpSettings = nullptr;
    QCheckBox* chkGetCydia = nullptr;
    QCheckBox* chkRefresh = nullptr;
    QCheckBox* chkPutDebs = nullptr;
    QCheckBox* chkPutAutoInstall = nullptr;
    QCheckBox* chkPutCydia = nullptr;
    QLabel* lblArchitecture = nullptr;
    // Entry 0 lists every architecture; the others carry their architecture as
    // item data.
    QComboBox* lstArchitecture = nullptr;
    // Asks the phone for its architecture (the window does the asking).
    QPushButton* btnPhoneArchitecture = nullptr;
    // Chooses Architecture (one of Settings::PhoneArchitectures, or empty for
    // all) as if the user had.
    void SetArchitecture(const QString& architecture);

    QGroupBox* grpAbout = nullptr;
    QLabel* imgAbout = nullptr;
    TEngravedLabel* lblProgramName = nullptr;
    QLabel* lblSlogan = nullptr;
    QLabel* lblSoftVersion = nullptr;
};
