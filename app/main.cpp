#include "app/ui/AppSetup.h"
#include "app/ui/TfrmMain.h"
#include "base/TerminationSignals.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The pictures live in the window library, a static library: register them.
    Q_INIT_RESOURCE(orvia);
    SetupApplication(app);

    TfrmMain frmMain(QCoreApplication::applicationFilePath());

    // A termination request closes the window the same way its close box does,
    // answering any open dialog first; during a failed start-up the program
    // then ends with status 1.
    TTerminationSignals termination;
    termination.Install();
    QObject::connect(&termination, &TTerminationSignals::terminationRequested, &frmMain,
                     [&frmMain](int) { frmMain.Terminate(); });

    if (!frmMain.FormCreate())
        return 1;
    return app.exec();
}
