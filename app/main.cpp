#include "app/TerminationSignals.h"
#include "app/ui/AppSetup.h"
#include "app/ui/TfrmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The pictures live in the window library, a static library: register them.
    Q_INIT_RESOURCE(orvia);
    SetupApplication(app);

    TfrmMain frmMain(QCoreApplication::applicationFilePath());

    // A termination request closes the window the same way its close box does.
    TerminationSignals termination;
    termination.Install();
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &frmMain,
                     [&frmMain](int) { frmMain.RequestClose(); });

    if (!frmMain.FormCreate())
        return 1;
    return app.exec();
}
