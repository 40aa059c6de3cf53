#pragma once

#include "app/ui/Widgets.h"
#include "base/WorkFolders.h"
#include "catalogue/PackageDetails.h"
#include "catalogue/PackageRow.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QTableView;

// The Packages page: the category box, the package list, search, the details
// panel and the download strip. The main window owns it and calls the
// catalogue operations below from its start-up, shutdown and reloads.
class TPackagesPage : public TStripPage {
    Q_OBJECT
public:
    explicit TPackagesPage(QWidget* parent = nullptr);
    ~TPackagesPage() override;

    // Loads the page's pictures (one LoadPNG per picture control).
    void LoadPictures();
    // The working folders, known after the start-up has prepared them.
    void SetFolders(const TWorkFolders& folders);

    // ---- catalogue operations used by the main window ----
    // Replaces the list by the saved rows of Category (all when empty) that
    // are listed for the phone's architecture; true when "cache.txt" was read
    // to its end and knew its rows' architectures. Marks stay on the rows
    // they were made on.
    bool LoadPackageList(const std::string& category);
    // Rebuilds the list from the index store; the marks are forgotten.
    void LoadPackages();
    // Writes the whole catalogue to "cache.txt": the rows shown when they are
    // all of it, else the saved list rewritten from itself.
    void SavePackageList();
    // Reads the indexes once on a worker, so that the details of any row are
    // then read without a scan of its index.
    void LearnIndexes();
    // The phone's architecture was changed: the list is shown anew for it.
    void PhoneArchitectureChanged();
    // The marks in all categories, and whether all categories are shown.
    int MarkedCount() const;
    bool ShowsAllCategories() const;
    // Chooses the all-categories entry and reloads the list with it.
    void ShowAllCategories();
    void HidePackageInfo();
    void SetBackPositionNone();
    const TPackageRows& Rows() const;

    // ---- used by the package download ----
    // Selects Row, shows its details and scrolls it into view, as a click on
    // it does. False when its stanza was not found (the details are hidden).
    bool ShowRowDetails(int row);
    // The details of Row's stanza as a click on it would show them, without
    // selecting it. False when its stanza was not found.
    bool RowDetails(int row, TDebianInfo& info) const;
    // The details record of the selected package, as the panel shows it.
    const TDebianInfo& CurrentPackage() const;
    void SetRowMarked(int row, bool marked);
    void SetRowState(int row, int state);

    // Opens a link with the desktop's default handler; tests replace it.
    std::function<void(const QUrl&)> OpenUrl;
    // The phone's architecture, read at every load of the list: rows of
    // other architectures are not listed. Unset or empty: every row is.
    std::function<std::string()> PhoneArchitecture;
    // Asks a Yes/No question before the reset of all updates; true for Yes.
    // Unset, nothing is reset.
    std::function<bool(const QString& text)> Confirm;
    // Tells the user (in the window and on stderr) which indexes a load of
    // the catalogue skipped and why. Unset, only stderr hears it.
    std::function<void(const QString& text)> Warn;
    // Whether the source of an index file name is fetched over https (the
    // download address of its packages follows). Set by the window.
    std::function<bool(const QString& indexName)> IsHttpsSource;

signals:
    void downloadClicked(); // btnPkgDownload; the strip's Stop raises stopClicked

private:
    TToolButton pkgDownload_; // btnPkgDownload / imgPkgDownload
    struct Impl;
    Impl* d = nullptr;
};
