#pragma once

#include "app/ui/TfrmMain.h"
#include "support/Files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A window on a temporary working folder. Errors and questions are captured
// instead of shown, so no test ever blocks on a message box.
class WindowTest : public ::testing::Test {
protected:
    QString WorkDir() const { return tmp_.path() + QStringLiteral("/"); }
    QString ProgramPath() const { return WorkDir() + QStringLiteral("orvia"); }
    QString IniPath() const { return WorkDir() + QStringLiteral("orvia.ini"); }

    std::unique_ptr<TfrmMain> MakeWindow() {
        auto frm = std::make_unique<TfrmMain>(ProgramPath());
        frm->ShowError = [this](const QString& text) { errors_ << text; };
        frm->Confirm = [this](const QString& text) {
            questions_ << text;
            return answer_;
        };
        return frm;
    }

    // A created window; the test fails when start-up fails.
    std::unique_ptr<TfrmMain> StartWindow() {
        auto frm = MakeWindow();
        EXPECT_TRUE(frm->FormCreate());
        return frm;
    }

    void WriteFile(const QString& relative, const QByteArray& bytes) const {
        TestFiles::WriteBytes(WorkDir() + relative, bytes);
    }
    // The bytes, or "<missing>".
    QByteArray ReadFile(const QString& relative) const {
        return TestFiles::ReadBytes(WorkDir() + relative);
    }

    bool Exists(const QString& relative) const { return QFileInfo::exists(WorkDir() + relative); }

    template <typename T> static T* Find(const QWidget* root, const char* name) {
        T* widget = root->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // Lets queued work run (a deferred close, for instance).
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }

    QTemporaryDir tmp_;
    QStringList errors_;
    QStringList questions_;
    bool answer_ = true;
};
