#include "app/ui/TfrmMain.h"

TfrmMain::TfrmMain(const QString& programFilePath, QWidget* parent)
    : QWidget(parent), programFilePath_(programFilePath) {}

bool TfrmMain::FormCreate() {
    setFixedSize(640, 400);
    setWindowTitle(QStringLiteral("Orvia"));
    show();
    return true;
}

void TfrmMain::RequestClose() { close(); }
