#include "app/ui/Dialogs.h"

#include "app/ui/Widgets.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace {

void ToStderr(const char* kind, const QString& text) {
    std::fprintf(stderr, "orvia: %s: %s\n", kind, text.toLocal8Bit().constData());
    std::fflush(stderr);
}

void AnswerOpenDialogs() {
    // A dialog leaves the list of modal widgets as soon as it is hidden, so
    // each pass answers a new one; nested dialogs go from the top down.
    for (int guard = 0; guard < 64; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            QAbstractButton* answer = nullptr;
            for (QMessageBox::StandardButton b :
                 {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Close})
                if (!answer)
                    answer = box->button(b);
            if (answer)
                answer->click();
            else
                box->reject();
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        if (QApplication::activeModalWidget() == modal)
            modal->hide(); // refused to close: at least out of the way
    }
}

} // namespace

void TMessageBoxes::ShowError(const QString& text) {
    ToStderr("ошибка", text);
    if (!silenced_)
        QMessageBox::critical(parent_, Captions::Caption(), text);
}

bool TMessageBoxes::Confirm(const QString& text) {
    ToStderr("вопрос", text);
    if (silenced_)
        return false;
    return QMessageBox::question(parent_, QStringLiteral("Подтверждение"), text,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

void TMessageBoxes::Silence() {
    // Dialogs opened later in the shutdown (settings not writable, say) must
    // not wait for a click either.
    silenced_ = true;
    AnswerOpenDialogs();
}
