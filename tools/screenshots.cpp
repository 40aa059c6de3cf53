// Renders each page of the window with a small fixture catalogue into PNG
// files, for a person to look at (and for the README). The files go to
// ORVIA_SCREENSHOT_DIR, or to the build folder. Not a test: nothing is
// checked here, so it is a program of its own that ctest does not run.
#include "gui/GuiTestSupport.h"

#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QTableView>

namespace {

QString ScreenshotDir() {
    const QString fromEnv = qEnvironmentVariable("ORVIA_SCREENSHOT_DIR");
    return fromEnv.isEmpty() ? QStringLiteral(ORVIA_BUILD_DIR) : fromEnv;
}

const QByteArray GamesIndex = "Package: com.example.snake\n"
                              "Name: Snake Classic\n"
                              "Version: 2.1\n"
                              "Section: Games\n"
                              "Author: Ivan Petrov <ivan@example.org>\n"
                              "Homepage: http://games.example.org/snake\n"
                              "Depends: mobilesubstrate, preferenceloader\n"
                              "Filename: debs/snake_2.1_iphoneos-arm.deb\n"
                              "Size: 245760\n"
                              "Description: The classic snake game for the phone\n"
                              "\n"
                              "Package: com.example.chess\n"
                              "Name: Pocket Chess\n"
                              "Version: 1.0\n"
                              "Section: Games\n"
                              "Filename: debs/chess_1.0_iphoneos-arm.deb\n"
                              "Size: 1048576\n"
                              "Description: Chess against the phone\n"
                              "\n";

const QByteArray ToolsIndex = "Package: com.example.terminal\n"
                              "Name: Terminal\n"
                              "Version: 0.9\n"
                              "Section: Utilities\n"
                              "Filename: debs/terminal_0.9_iphoneos-arm.deb\n"
                              "Size: 512000\n"
                              "Description: A command line on the phone\n"
                              "\n";

// The reference copy knows an older snake and no chess: both show as new or
// updated.
const QByteArray GamesReference = "Package: com.example.snake\n"
                                  "Name: Snake Classic\n"
                                  "Version: 2.0\n"
                                  "Section: Games\n"
                                  "\n";

} // namespace

TEST_F(WindowTest, ScreenshotsOfEveryPage) {
    WriteFile(QStringLiteral("proc/games.example.org_Packages"), GamesIndex);
    WriteFile(QStringLiteral("proc/tools.example.org_apt_Packages"), ToolsIndex);
    WriteFile(QStringLiteral("lists/games.example.org_Packages"), GamesReference);
    WriteFile(QStringLiteral("lists/tools.example.org_apt_Packages"), ToolsIndex);
    WriteFile(QStringLiteral("archives/terminal_0.9_iphoneos-arm.deb"), "deb");
    WriteFile(QStringLiteral("orvia.ini"), "[Settings]\nRefresh=1\nPutDebs=1\n[Disabled]\n"
                                           "0=http://tools.example.org/apt/Packages\n");

    auto frm = StartWindow();
    Find<QListWidget>(frm.get(), "lstSources")->setCurrentRow(0);

    frm->SetActivePage(TfrmMain::PagePackages);
    auto* packages = Find<QTableView>(frm.get(), "lstPackages");
    ASSERT_GT(packages->model()->rowCount(), 0);
    const QRect row = packages->visualRect(packages->model()->index(0, 0));
    QTest::mouseClick(packages->viewport(), Qt::LeftButton, {}, row.center());
    Settle();

    const struct {
        int page;
        const char* file;
    } shots[] = {
        {0, "screenshot-sources.png"},
        {1, "screenshot-packages.png"},
        {2, "screenshot-sync.png"},
        {3, "screenshot-settings.png"},
    };
    for (const auto& shot : shots) {
        SCOPED_TRACE(shot.file);
        frm->SetActivePage(shot.page);
        Settle();
        const QImage image = frm->grab().toImage();
        ASSERT_EQ(image.size(), QSize(640, 400));
        // A blank picture means nothing was painted.
        const QRgb corner = image.pixel(300, 200);
        bool varied = false;
        for (int y = 0; y < image.height() && !varied; y += 7)
            for (int x = 0; x < image.width() && !varied; x += 7)
                varied = image.pixel(x, y) != corner;
        EXPECT_TRUE(varied);
        const QString path = ScreenshotDir() + QLatin1Char('/') + QString::fromUtf8(shot.file);
        EXPECT_TRUE(image.save(path, "PNG")) << path.toStdString();
    }
}
