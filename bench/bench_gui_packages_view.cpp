// Timing of the Packages page with a large saved list:
//   bench_gui_packages_view [ROWS | CORPUS]
// Generates a saved list of ROWS rows (100000 by default) in a temporary
// folder, or builds it from the indexes of a generated working folder CORPUS
// (its proc/, lists/ and archives/; nothing is written there), then times what the user waits for:
// loading the list with all categories, a category choice, a search that walks every row, a jump to
// the last identifier, and painting the list scrolled to its end. Runs on the offscreen platform
// unless another is set. Prints the best of five runs.

#include "app/ui/PackagesPage.h"
#include "base/WorkFolders.h"
#include "catalogue/PackageIndex.h"
#include "catalogue/PackageList.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

namespace {

double BestMs(const std::function<void()>& work) {
    double best = 1e300;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double, std::milli> took =
            std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

bool WriteCache(const QString& path, int rows) {
    std::string text;
    text.reserve(static_cast<std::size_t>(rows) * 96);
    for (int i = 0; i < rows; ++i) {
        const std::string n = std::to_string(i);
        text += "Section" + std::to_string(i % 40) + "\r\n";
        text += "Package number " + n + "\r\n";
        text += "$" + std::to_string(i % 4) + "\r\n";
        text += "1." + n + "\r\n";
        text += "com.example.package" + n + "\r\n";
        text += "A package for timing\r\n";
        text += "repo.example.org_._Packages\r\n";
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.data(), static_cast<qint64>(text.size())) ==
                                               static_cast<qint64>(text.size());
}

void RightClick(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::RightButton, Qt::RightButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::RightButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(orvia);
    const QString arg = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    const bool corpus = !arg.isEmpty() && QFileInfo(arg).isDir();
    int rows = !corpus && argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    QTemporaryDir root;
    TWorkFolders folders;
    folders.WorkDir = root.path() + "/";
    folders.ProcDir = folders.WorkDir + "proc/";
    folders.ListsDir = folders.WorkDir + "lists/";
    folders.ArchivesDir = folders.WorkDir + "archives/";
    for (const char* sub : {"proc", "lists", "archives"})
        QDir(root.path()).mkdir(QString::fromUtf8(sub));
    if (corpus) {
        const TPackageRows loaded =
            LoadPackages(arg + "/proc/", arg + "/lists/", arg + "/archives/");
        rows = static_cast<int>(loaded.size());
        if (!PackageList::SavePackageList(folders.ProcDir + "cache.txt", loaded)) {
            std::fprintf(stderr, "cannot write the saved list\n");
            return 1;
        }
    } else if (!WriteCache(folders.ProcDir + "cache.txt", rows)) {
        std::fprintf(stderr, "cannot write the saved list\n");
        return 1;
    }

    TPackagesPage page;
    page.SetFolders(folders);
    page.resize(640, 400);
    page.show();
    auto* list = page.findChild<QTableView*>(QStringLiteral("lstPackages"));
    auto* sections = page.findChild<QComboBox*>(QStringLiteral("lstSections"));
    auto* search = page.findChild<QLineEdit*>(QStringLiteral("txtSearch"));
    auto* btnSearch = page.findChild<QToolButton*>(QStringLiteral("btnSearch"));

    std::printf("rows: %d\n", rows);
    std::printf("load all categories: %.1f ms\n", BestMs([&] {
                    page.LoadPackageList("");
                    app.processEvents();
                }));
    // The biggest category of the generated corpus, or the first one.
    const int category = std::max(1, sections->findText(QStringLiteral("Tweaks")));
    std::printf("choose one category (%s): %.1f ms\n",
                sections->itemText(category).toUtf8().constData(), BestMs([&] {
                    sections->setCurrentIndex(category);
                    emit sections->activated(category);
                    app.processEvents();
                }));
    page.ShowAllCategories();
    search->setText(QStringLiteral("no such text anywhere"));
    std::printf("search through every row: %.1f ms\n", BestMs([&] {
                    btnSearch->click();
                    app.processEvents();
                }));
    search->setText(QString::fromUtf8(page.Rows().back().Package()));
    std::printf("jump to the last identifier: %.1f ms\n", BestMs([&] {
                    RightClick(btnSearch);
                    app.processEvents();
                }));
    std::printf("paint the list at its end: %.1f ms\n", BestMs([&] {
                    list->scrollToBottom();
                    list->grab();
                }));
    std::printf("paint the list at its top: %.1f ms\n", BestMs([&] {
                    list->scrollToTop();
                    list->grab();
                }));
    std::printf("widgets on the page: %d\n",
                static_cast<int>(page.findChildren<QWidget*>().size()));
    return 0;
}
