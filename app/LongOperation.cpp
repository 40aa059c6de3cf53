#include "app/LongOperation.h"

#include <QCoreApplication>
#include <QEventLoop>

void TStopFlag::Set() {
    set_ = true;
    emit raised();
}

namespace LongOperation {

void WaitUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void Wake() {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] {}, Qt::QueuedConnection);
}

} // namespace LongOperation
