#include "app/ui/AppSetup.h"

#include <QApplication>

void SetupApplication(QApplication& app) {
    app.setApplicationName(QStringLiteral("Orvia"));
}
