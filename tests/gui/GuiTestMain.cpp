// The window tests need one QApplication for the whole run, set up exactly as
// the program sets itself up (font, Russian buttons, icon). Their transfers go
// only to servers on 127.0.0.1 inside the process: a proxy configured in the
// environment must not come between.
#include "app/ui/AppSetup.h"

#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    SetupApplication(app);
    return RUN_ALL_TESTS();
}
