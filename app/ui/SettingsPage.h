#pragma once

#include "app/Settings.h"

#include <QLabel>
#include <QWidget>

class QCheckBox;
class QGroupBox;

// A label drawn with a recessed (engraved) look: a light copy of the text one
// pixel down and right under the text itself.
class TEngravedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The Settings page: the five option check boxes and the about box.
class TSettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit TSettingsPage(QWidget* parent = nullptr);

    void LoadPictures();

    TSettings Options() const;
    void SetOptions(const TSettings& options);

    QGroupBox* grpSettings = nullptr;
    QCheckBox* chkGetCydia = nullptr;
    QCheckBox* chkRefresh = nullptr;
    QCheckBox* chkPutDebs = nullptr;
    QCheckBox* chkPutAutoInstall = nullptr;
    QCheckBox* chkPutCydia = nullptr;

    QGroupBox* grpAbout = nullptr;
    QLabel* imgAbout = nullptr;
    TEngravedLabel* lblProgramName = nullptr;
    QLabel* lblSlogan = nullptr;
    QLabel* lblSoftVersion = nullptr;
};
