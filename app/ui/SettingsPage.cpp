#include "app/ui/SettingsPage.h"

#include "app/ui/AppSetup.h"
#include "app/ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPainter>
#include <QPushButton>

namespace {

const QColor Navy(0x00, 0x00, 0x80);
const QColor DarkGrey(0x40, 0x40, 0x40);

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

    auto* grpSettings = new QGroupBox(QStringLiteral(" Настройки "), this);
    grpSettings->setObjectName(QStringLiteral("grpSettings"));
    grpSettings->setGeometry(4, 4, 573, 265);

    chkGetCydia_ = MakeOption(grpSettings, QStringLiteral("chkGetCydia"),
                              QStringLiteral("Копировать источники из Cydia при запуске"), 20);
    chkRefresh_ = MakeOption(grpSettings, QStringLiteral("chkRefresh"),
                             QStringLiteral("Обновлять источники при запуске программы"), 40);
    chkPutDebs_ = MakeOption(grpSettings, QStringLiteral("chkPutDebs"),
                             QStringLiteral("Копировать пакеты в кэш Cydia после загрузки"), 60);
    chkPutAutoInstall_ = MakeOption(
        grpSettings, QStringLiteral("chkPutAutoInstall"),
        QStringLiteral("Копировать пакеты в папку автоустановки Cydia после загрузки"), 80);
    chkPutCydia_ =
        MakeOption(grpSettings, QStringLiteral("chkPutCydia"),
                   QStringLiteral("Копировать источники в Cydia при завершении работы"), 100);

    auto* lblArchitecture = new QLabel(QStringLiteral("Архитектура телефона:"), grpSettings);
    lblArchitecture->setObjectName(QStringLiteral("lblArchitecture"));
    lblArchitecture->setGeometry(12, 128, 150, 17);
    lstArchitecture_ = new QComboBox(grpSettings);
    lstArchitecture_->setObjectName(QStringLiteral("lstArchitecture"));
    lstArchitecture_->setGeometry(164, 125, 160, 22);
    lstArchitecture_->setToolTip(
        QStringLiteral("Показывать только пакеты этой архитектуры и пакеты для всех архитектур"));
    lstArchitecture_->addItem(QStringLiteral("все архитектуры"), QString());
    for (const QString& arch : Settings::PhoneArchitectures())
        lstArchitecture_->addItem(arch, arch);
    lblArchitecture->setBuddy(lstArchitecture_);
    auto* btnPhoneArchitecture = new QPushButton(QStringLiteral("Узнать у телефона"), grpSettings);
    btnPhoneArchitecture->setObjectName(QStringLiteral("btnPhoneArchitecture"));
    btnPhoneArchitecture->setGeometry(332, 124, 150, 24);
    btnPhoneArchitecture->setToolTip(
        QStringLiteral("Прочитать архитектуру из настроек dpkg на подключённом телефоне"));
    connect(btnPhoneArchitecture, &QPushButton::clicked, this,
            &TSettingsPage::phoneArchitectureClicked);
    connect(lstArchitecture_, &QComboBox::activated, this, &TSettingsPage::architectureChosen);

    // The last two options are reached in the opposite order to the one they
    // are shown in.
    setTabOrder(chkGetCydia_, chkRefresh_);
    setTabOrder(chkRefresh_, chkPutDebs_);
    setTabOrder(chkPutDebs_, chkPutCydia_);
    setTabOrder(chkPutCydia_, chkPutAutoInstall_);
    setTabOrder(chkPutAutoInstall_, lstArchitecture_);
    setTabOrder(lstArchitecture_, btnPhoneArchitecture);

    auto* grpAbout = new QGroupBox(QStringLiteral(" О программе "), this);
    grpAbout->setObjectName(QStringLiteral("grpAbout"));
    grpAbout->setGeometry(4, 268, 573, 117);

    imgAbout_ = new QLabel(grpAbout);
    imgAbout_->setObjectName(QStringLiteral("imgAbout"));
    imgAbout_->setGeometry(8, 20, 90, 90);
    imgAbout_->setAlignment(Qt::AlignCenter);

    QFont nameFont = font();
    nameFont.setPixelSize(37);
    nameFont.setBold(true);
    nameFont.setItalic(true);
    MakeAboutLine(grpAbout, new TEngravedLabel(QStringLiteral("ORVIA")),
                  QStringLiteral("lblProgramName"), {100, 20, 169, 45}, nameFont, Navy);

    QFont sloganFont(SloganFontFamily());
    sloganFont.setPixelSize(19);
    sloganFont.setBold(true);
    sloganFont.setItalic(true);
    MakeAboutLine(grpAbout, new QLabel(QStringLiteral("Cydia рядом")), QStringLiteral("lblSlogan"),
                  {100, 64, 169, 25}, sloganFont, Navy);

    QFont versionFont = font();
    versionFont.setPixelSize(11);
    versionFont.setBold(true);
    MakeAboutLine(grpAbout, new QLabel(QStringLiteral("Версия ") + QStringLiteral(ORVIA_VERSION)),
                  QStringLiteral("lblSoftVersion"), {100, 88, 169, 21}, versionFont, DarkGrey);
}

void TSettingsPage::LoadPictures() {
    LoadPNG(QStringLiteral("ABOUT"), imgAbout_);
}

TOptions TSettingsPage::Options() const {
    TOptions options;
    options.Refresh = chkRefresh_->isChecked();
    options.GetCydia = chkGetCydia_->isChecked();
    options.PutCydia = chkPutCydia_->isChecked();
    options.PutDebs = chkPutDebs_->isChecked();
    options.PutAutoInstall = chkPutAutoInstall_->isChecked();
    options.Architecture = lstArchitecture_->currentData().toString();
    return options;
}

void TSettingsPage::SetArchitecture(const QString& architecture) {
    const int entry = lstArchitecture_->findData(Settings::NormalizeArchitecture(architecture));
    lstArchitecture_->setCurrentIndex(entry < 0 ? 0 : entry);
}

void TSettingsPage::SetOptions(const TOptions& options) {
    chkRefresh_->setChecked(options.Refresh);
    chkGetCydia_->setChecked(options.GetCydia);
    chkPutCydia_->setChecked(options.PutCydia);
    chkPutDebs_->setChecked(options.PutDebs);
    chkPutAutoInstall_->setChecked(options.PutAutoInstall);
    SetArchitecture(options.Architecture);
}
