// Steps of the start-up, the shutdown and the window's buttons that belong to
// the HTTP components, the refresh, the package download and the phone. The
// sequences already call them in their places; each does nothing until its
// operation is built.
#include "app/ui/TfrmMain.h"

void TfrmMain::btnPkgDownloadClick() {}
