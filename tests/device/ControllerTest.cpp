// The controller's lifecycle with a view that records what it was asked to
// do: the order of start-up and shutdown, and when a close waits.
#include "control/Controller.h"
#include "sources/SourceList.h"
#include "support/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

class TRecordingView : public TControllerView {
public:
    explicit TRecordingView(const QString& programFilePath) : Controller(programFilePath, *this) {}

    void ShowError(const QString& text) override { Steps << QStringLiteral("error ") + text; }
    bool Confirm(const QString&) override { return false; }
    void PrepareLook() override { Step("look"); }
    void FoldersReady(const TWorkFolders&) override { Step("folders"); }
    void ShowWindow() override { Step("show"); }
    TSourceList& Sources() override { return List; }
    TOptions Options() const override { return Chosen; }
    void ShowOptions(const TOptions& shown) override {
        Chosen = shown;
        Step("options");
    }
    void SetBusyLook(bool busy) override { Step(busy ? "busy" : "idle"); }
    void LoadCatalogue() override { Step("load"); }
    void SaveCatalogue() override { Step("save"); }
    void RefreshSources() override { Operation("refresh"); }
    void CopyListsFromPhone() override { Operation("from phone"); }
    void CopyListsToPhone() override { Operation("to phone"); }
    void ReloadCatalogue() override { Step("reload"); }
    int ActivePage() const override { return Page; }
    void SetActivePage(int shown) override {
        Page = shown;
        Step("page");
    }
    void ShowShuttingDown() override { Step("shutting down"); }
    void CloseWindow() override {
        Step("close");
        if (Controller.Close())
            Steps << QStringLiteral("closed");
    }

    // An operation as the window runs one: bracketed, with what it saw of
    // the stop flag at its start, and its hook run inside it.
    void Operation(const char* name) {
        Controller.Runner().Begin();
        Step(name, Controller.Runner().StopRequested() ? " (stopped)" : "");
        Controller.Runner().End();
    }
    void Step(const char* name, const char* note = "") {
        Steps << QString::fromUtf8(name) + QString::fromUtf8(note);
        if (const auto hook = Hooks.find(name); hook != Hooks.end())
            hook->second();
    }

    TSourceList List;
    TOptions Chosen;
    int Page = 0;
    QStringList Steps;
    std::map<std::string, std::function<void()>> Hooks;
    TController Controller; // last: it is made with the view and goes first
};

class ControllerTest : public ::testing::Test {
protected:
    QString Path(const char* relative) const {
        return tmp_.path() + QLatin1Char('/') + QString::fromUtf8(relative);
    }
    QString ProgramPath() const { return Path("orvia"); }
    static void Settle() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    QTemporaryDir tmp_;
    TRecordingView view_{ProgramPath()};
    TController& controller_ = view_.Controller;
};

const QStringList StartSteps = {"look", "folders", "show", "options", "busy", "load"};
const QStringList ShutdownSteps = {"shutting down", "save"};

} // namespace

TEST_F(ControllerTest, StartRunsTheChosenOperationsInOrderAndRestoresThePageLast) {
    const struct {
        const char* Ini;
        QStringList Operations;
    } cases[] = {
        {"", {}},
        {"Refresh=1\n", {"refresh", "reload"}},
        {"GetCydia=1\n", {"from phone", "reload"}},
        {"Refresh=1\nGetCydia=1\nActivePage=2\n", {"refresh", "from phone", "reload"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Ini);
        TestFiles::WriteBytes(Path("orvia.ini"), QByteArray("[Settings]\n") + c.Ini);
        TRecordingView view(ProgramPath());
        ASSERT_TRUE(view.Controller.Start());
        EXPECT_EQ(view.Steps, StartSteps + c.Operations + QStringList({"idle", "page"}));
        EXPECT_EQ(view.Controller.State(), TLifecycle::Running);
        EXPECT_EQ(view.Page, QByteArray(c.Ini).contains("ActivePage=2") ? 2 : 0);
        EXPECT_TRUE(QFileInfo::exists(Path("proc")));
    }
}

TEST_F(ControllerTest, FolderThatCannotBeCreatedEndsStartupWithItsReason) {
    TestFiles::WriteBytes(Path("lists"), "a file where the folder should be");
    EXPECT_FALSE(controller_.Start());
    ASSERT_EQ(view_.Steps.size(), 2);
    EXPECT_TRUE(view_.Steps[1].startsWith(QStringLiteral("error ")))
        << view_.Steps[1].toStdString();
    EXPECT_EQ(controller_.State(), TLifecycle::Closed);
    EXPECT_FALSE(QFileInfo::exists(Path("proc")));
    EXPECT_TRUE(controller_.Close()); // nothing to save
    EXPECT_FALSE(QFileInfo::exists(Path("orvia.ini")));
}

TEST_F(ControllerTest, ShutdownSavesOnceCopiesWhenAskedAndReportsAnUnwritableFile) {
    ASSERT_TRUE(controller_.Start());
    view_.Steps.clear();
    view_.Chosen.PutCydia = true;
    // A stop raised before the close must not stop the copy the shutdown makes.
    controller_.Runner().StopFlag().Set();
    ASSERT_TRUE(QDir().mkpath(Path("orvia.ini"))); // a folder in its place
    EXPECT_TRUE(controller_.Close());
    ASSERT_EQ(view_.Steps.size(), 4);
    EXPECT_EQ(view_.Steps.mid(0, 3), ShutdownSteps + QStringList({"to phone"}));
    EXPECT_TRUE(view_.Steps[3].contains(Path("orvia.ini"))) << view_.Steps[3].toStdString();
    EXPECT_EQ(controller_.State(), TLifecycle::Closed);

    view_.Steps.clear();
    EXPECT_TRUE(controller_.Close());
    controller_.RequestClose();
    Settle();
    EXPECT_TRUE(view_.Steps.isEmpty());
}

// A close waits for what runs (start-up itself, an operation) with the stop
// flag raised, and happens once it has ended, whichever way it was asked for.
TEST_F(ControllerTest, CloseDuringWorkStopsItAndClosesWhenItEnds) {
    for (const bool viaCloseBox : {false, true}) {
        SCOPED_TRACE(viaCloseBox ? "close box" : "request");
        QFile::remove(Path("orvia.ini"));
        TRecordingView view(ProgramPath());
        TController& controller = view.Controller;
        ASSERT_TRUE(controller.Start());
        view.Steps.clear();
        controller.Runner().Begin();
        EXPECT_FALSE(controller.Runner().StopFlag().IsSet());
        if (viaCloseBox)
            EXPECT_FALSE(controller.Close());
        else
            controller.RequestClose();
        EXPECT_TRUE(controller.Runner().StopFlag().IsSet());
        EXPECT_EQ(controller.State(), TLifecycle::ClosePending);
        // What starts meanwhile stops at once.
        view.Operation("refresh");
        Settle();
        EXPECT_EQ(view.Steps, QStringList{"refresh (stopped)"});
        EXPECT_FALSE(QFileInfo::exists(Path("orvia.ini")));

        controller.Runner().End();
        Settle();
        EXPECT_EQ(view.Steps, QStringList({"refresh (stopped)", "close"}) + ShutdownSteps +
                                  QStringList({"closed"}));
        EXPECT_TRUE(QFileInfo::exists(Path("orvia.ini")));
    }
}

TEST_F(ControllerTest, CloseDuringStartupWaitsForItsEnd) {
    TestFiles::WriteBytes(Path("orvia.ini"), "[Settings]\nRefresh=1\nGetCydia=1\nActivePage=2\n");
    view_.Hooks["refresh"] = [this] { controller_.RequestClose(); };
    view_.Hooks["reload"] = [] { Settle(); }; // start-up handles events meanwhile
    ASSERT_TRUE(controller_.Start());
    EXPECT_EQ(view_.Steps, StartSteps + QStringList({"refresh", "from phone (stopped)", "reload",
                                                     "idle", "page"}));
    EXPECT_EQ(controller_.State(), TLifecycle::ClosePending);
    Settle();
    EXPECT_EQ(view_.Steps.mid(StartSteps.size() + 5),
              QStringList({"close"}) + ShutdownSteps + QStringList({"closed"}));
}
