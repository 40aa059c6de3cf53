#pragma once

class QApplication;

// Application-wide look: the window font, the Russian texts of the standard
// dialog buttons, the program icon.
void SetupApplication(QApplication& app);
