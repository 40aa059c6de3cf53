#include "app/ui/SettingsPage.h"

#include "app/ui/AppSetup.h"
#include "app/ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPainter>
#include <QPushButton>

namespace {

const QColor kNavy(0x00, 0x00, 0x80);
const QColor kDarkGrey(0x40, 0x40, 0x40);

QCheckBox* MakeOption(QWidget* parent, const QString& name, const QString& caption, int top) {
    auto* chk = new QCheckBox(caption, parent);
    chk->setObjectName(name);
    chk->setGeometry(12, top, 549, 17);
    return chk;
}

QLabel* MakeAboutLine(QWidget* parent, QLabel* lbl, const QString& name, QRect geometry, QFont font,
                      const QColor& colour) {
    lbl->setParent(parent);
    lbl->setObjectName(name);
    lbl->setGeometry(geometry);
    lbl->setAlignment(Qt::AlignCenter);
    lbl->setFont(font);
    QPalette palette = lbl->palette();
    palette.setColor(QPalette::WindowText, colour);
    lbl->setPalette(palette);
    return lbl;
}

} // namespace

void TEngravedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    const QRect area = contentsRect();
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(area.translated(1, 1), static_cast<int>(alignment()), text());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, static_cast<int>(alignment()), text());
}

TSettingsPage::TSettingsPage(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("tabSettings"));

    grpSettings = new QGroupBox(QStringLiteral(" Настройки "), this);
    grpSettings->setObjectName(QStringLiteral("grpSettings"));
    grpSettings->setGeometry(4, 4, 573, 265);

    chkGetCydia = MakeOption(grpSettings, QStringLiteral("chkGetCydia"),
                             QStringLiteral("Копировать источники из Cydia при запуске"), 20);
    chkRefresh = MakeOption(grpSettings, QStringLiteral("chkRefresh"),
                            QStringLiteral("Обновлять источники при запуске программы"), 40);
    chkPutDebs = MakeOption(grpSettings, QStringLiteral("chkPutDebs"),
                            QStringLiteral("Копировать пакеты в кэш Cydia после загрузки"), 60);
    chkPutAutoInstall = MakeOption(
        grpSettings, QStringLiteral("chkPutAutoInstall"),
        QStringLiteral("Копировать пакеты в папку автоустановки Cydia после загрузки"), 80);
    chkPutCydia =
        MakeOption(grpSettings, QStringLiteral("chkPutCydia"),
                   QStringLiteral("Копировать источники в Cydia при завершении работы"), 100);

    lblArchitecture = new QLabel(QStringLiteral("Архитектура телефона:"), grpSettings);
    lblArchitecture->setObjectName(QStringLiteral("lblArchitecture"));
    lblArchitecture->setGeometry(12, 128, 150, 17);
    lstArchitecture = new QComboBox(grpSettings);
    lstArchitecture->setObjectName(QStringLiteral("lstArchitecture"));
    lstArchitecture->setGeometry(164, 125, 160, 22);
    lstArchitecture->setToolTip(
        QStringLiteral("Показывать только пакеты этой архитектуры и пакеты для всех архитектур"));
    lstArchitecture->addItem(QStringLiteral("все архитектуры"), QString());
    for (const QString& arch : Settings::PhoneArchitectures())
        lstArchitecture->addItem(arch, arch);
    lblArchitecture->setBuddy(lstArchitecture);
    btnPhoneArchitecture = new QPushButton(QStringLiteral("Узнать у телефона"), grpSettings);
    btnPhoneArchitecture->setObjectName(QStringLiteral("btnPhoneArchitecture"));
    btnPhoneArchitecture->setGeometry(332, 124, 150, 24);
    btnPhoneArchitecture->setToolTip(
        QStringLiteral("Прочитать архитектуру из настроек dpkg на подключённом телефоне"));

    // The last two options are reached in the opposite order to the one they
    // are shown in.
    setTabOrder(chkGetCydia, chkRefresh);
    setTabOrder(chkRefresh, chkPutDebs);
    setTabOrder(chkPutDebs, chkPutCydia);
    setTabOrder(chkPutCydia, chkPutAutoInstall);
    setTabOrder(chkPutAutoInstall, lstArchitecture);
    setTabOrder(lstArchitecture, btnPhoneArchitecture);

    grpAbout = new QGroupBox(QStringLiteral(" О программе "), this);
    grpAbout->setObjectName(QStringLiteral("grpAbout"));
    grpAbout->setGeometry(4, 268, 573, 117);

    imgAbout = new QLabel(grpAbout);
    imgAbout->setObjectName(QStringLiteral("imgAbout"));
    imgAbout->setGeometry(8, 20, 90, 90);
    imgAbout->setAlignment(Qt::AlignCenter);

    QFont nameFont = font();
    nameFont.setPixelSize(37);
    nameFont.setBold(true);
    nameFont.setItalic(true);
    lblProgramName = new TEngravedLabel(QStringLiteral("ORVIA"));
    MakeAboutLine(grpAbout, lblProgramName, QStringLiteral("lblProgramName"), {100, 20, 169, 45},
                  nameFont, kNavy);

    QFont sloganFont(SloganFontFamily());
    sloganFont.setPixelSize(19);
    sloganFont.setBold(true);
    sloganFont.setItalic(true);
    lblSlogan = MakeAboutLine(grpAbout, new QLabel(QStringLiteral("Cydia рядом")),
                              QStringLiteral("lblSlogan"), {100, 64, 169, 25}, sloganFont, kNavy);

    QFont versionFont = font();
    versionFont.setPixelSize(11);
    versionFont.setBold(true);
    lblSoftVersion = MakeAboutLine(
        grpAbout, new QLabel(QStringLiteral("Версия ") + QStringLiteral(ORVIA_VERSION)),
        QStringLiteral("lblSoftVersion"), {100, 88, 169, 21}, versionFont, kDarkGrey);
}

void TSettingsPage::LoadPictures() {
    LoadPNG(QStringLiteral("ABOUT"), imgAbout);
}

TOptions TSettingsPage::Options() const {
    TOptions options;
    options.Refresh = chkRefresh->isChecked();
    options.GetCydia = chkGetCydia->isChecked();
    options.PutCydia = chkPutCydia->isChecked();
    options.PutDebs = chkPutDebs->isChecked();
    options.PutAutoInstall = chkPutAutoInstall->isChecked();
    options.Architecture = lstArchitecture->currentData().toString();
    return options;
}

void TSettingsPage::SetArchitecture(const QString& architecture) {
    const int entry = lstArchitecture->findData(Settings::NormalizeArchitecture(architecture));
    lstArchitecture->setCurrentIndex(entry < 0 ? 0 : entry);
}

void TSettingsPage::SetOptions(const TOptions& options) {
    chkRefresh->setChecked(options.Refresh);
    chkGetCydia->setChecked(options.GetCydia);
    chkPutCydia->setChecked(options.PutCydia);
    chkPutDebs->setChecked(options.PutDebs);
    chkPutAutoInstall->setChecked(options.PutAutoInstall);
    SetArchitecture(options.Architecture);
}
