#pragma once

#include <QString>

class QApplication;

// Application-wide look: the window font, the Russian texts of the standard
// dialog buttons, the program icon.
void SetupApplication(QApplication& app);

// The family the about box's slogan is drawn in: a Times-like serif when one is
// installed, the system's serif otherwise.
QString SloganFontFamily();
