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

// Errors and questions captured instead of shown, so no test ever blocks on
// a message box; every question is answered with Answer.
class TCapturedDialogs : public TDialogs {
public:
    void ShowError(const QString& text) override { Errors << text; }
    bool Confirm(const QString& text) override {
        Questions << text;
        return Answer;
    }

    QStringList Errors;
    QStringList Questions;
    bool Answer = true;
};

// A window on a temporary working folder, its dialogs captured.
class WindowTest : public ::testing::Test {
protected:
    QString WorkDir() const { return tmp_.path() + QStringLiteral("/"); }
    QString ProgramPath() const { return WorkDir() + QStringLiteral("orvia"); }
    QString IniPath() const { return WorkDir() + QStringLiteral("orvia.ini"); }

    // A created window; the test fails when start-up fails.
    std::unique_ptr<TfrmMain> StartWindow() {
        auto frm = std::make_unique<TfrmMain>(ProgramPath(), &dialogs_);
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

    // A page of the window, found by its type.
    template <typename T> static T* PageOf(const TfrmMain& frm) {
        T* page = frm.findChild<T*>();
        EXPECT_NE(page, nullptr);
        return page;
    }

    // Lets queued work run (a deferred close, for instance).
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
    }

    QTemporaryDir tmp_;
    TCapturedDialogs dialogs_;
    QStringList& errors_ = dialogs_.Errors;
    QStringList& questions_ = dialogs_.Questions;
    bool& answer_ = dialogs_.Answer;
};
