#pragma once

#include "control/Controller.h"

#include <QString>

class QWidget;

// The window's message boxes. Each text is written to stderr as well, so a
// run without a display (or with nobody watching) leaves a trace.
class TMessageBoxes final : public TDialogs {
public:
    explicit TMessageBoxes(QWidget* parent) : parent_(parent) {}

    // An error with an OK button; once silenced only the stderr line.
    void ShowError(const QString& text) override;
    // A Yes/No question titled "Подтверждение"; true for Yes. Once silenced:
    // No, without asking.
    bool Confirm(const QString& text) override;

    // The program is being terminated: every open modal dialog is answered
    // the safe way (a message box with its No, else Cancel, else OK button;
    // any other dialog by rejecting it), and later ones do not wait either.
    void Silence();

private:
    QWidget* parent_;
    bool silenced_ = false;
};
