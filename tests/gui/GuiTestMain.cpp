// The window tests need one QApplication for the whole run, set up exactly as
// the program sets itself up (font, Russian buttons, icon).
#include "app/ui/AppSetup.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    SetupApplication(app);
    return RUN_ALL_TESTS();
}
