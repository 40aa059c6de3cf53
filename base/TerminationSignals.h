#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, so that
// a termination request closes the window through the normal shutdown (list
// saved, settings written) instead of killing the process mid-write.
class TTerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TTerminationSignals(QObject* parent = nullptr);
    ~TTerminationSignals() override;

    // False when the handlers could not be installed.
    bool Install();

signals:
    void terminationRequested(int signalNumber);

private:
    void OnReadable();
    QSocketNotifier* notifier_ = nullptr;
};
