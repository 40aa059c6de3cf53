#include "app/ui/AppSetup.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QLibraryInfo>
#include <QPixmap>
#include <QTranslator>

namespace {

// Tahoma ships with the Windows-compatibility fonts package; registering it
// from there gives the window its intended metrics without installing fonts
// system-wide. Returns the family name, or an empty string when missing.
QString RegisterTahoma() {
    const QString folder = QStringLiteral("/usr/share/wine/fonts/");
    QString family;
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf"}) {
        const int id = QFontDatabase::addApplicationFont(folder + QLatin1String(file));
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (family.isEmpty() && !families.isEmpty())
            family = families.first();
    }
    return family;
}

} // namespace

void SetupApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Orvia"));

    // The interface is Russian whatever the user's locale, so the standard
    // buttons ("Yes", "No", "OK") must be Russian too.
    auto* translator = new QTranslator(&app);
    if (translator->load(QStringLiteral("qtbase_ru"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;

    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const QString tahoma = RegisterTahoma();
    if (!tahoma.isEmpty())
        font.setFamily(tahoma);
    font.setPixelSize(12);
    QApplication::setFont(font);

    QPixmap icon;
    if (icon.load(QStringLiteral(":/png/ICON")))
        QApplication::setWindowIcon(QIcon(icon));
}

QString SloganFontFamily() {
    const QStringList installed = QFontDatabase::families();
    for (const QString& wanted :
         {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
          QStringLiteral("DejaVu Serif")}) {
        if (installed.contains(wanted, Qt::CaseInsensitive))
            return wanted;
    }
    return QStringLiteral("serif");
}
