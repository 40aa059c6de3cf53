#pragma once

#include <QString>

class QWidget;

// The window's message boxes. Each text is written to stderr as well, so a
// run without a display (or with nobody watching) leaves a trace.
namespace Dialogs {

// An error with an OK button; with Quiet (the program is being terminated)
// only the stderr line.
void ShowError(QWidget* parent, const QString& text, bool quiet);
// A Yes/No question titled "Подтверждение"; true for Yes. With Quiet: No,
// without asking.
bool Confirm(QWidget* parent, const QString& text, bool quiet);

// Answers every open modal dialog the safe way: a message box with its No,
// else Cancel, else OK button; any other dialog by rejecting it.
void AnswerOpenDialogs();

} // namespace Dialogs
