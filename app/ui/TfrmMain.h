#pragma once

#include <QWidget>

class TfrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfrmMain(const QString& programFilePath, QWidget* parent = nullptr);
    bool FormCreate();
    void RequestClose();

private:
    QString programFilePath_;
};
