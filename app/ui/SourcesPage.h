#pragma once

#include "app/ui/Widgets.h"
#include "sources/Refresh.h"
#include "sources/SourceList.h"

#include <QHash>

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;

// The Sources page: the check list of source addresses mirroring a TSourceList,
// the edit field with its three buttons, and the refresh strip.
class TSourcesPage : public TStripPage {
    Q_OBJECT
public:
    explicit TSourcesPage(QWidget* parent = nullptr);

    void LoadPictures();

    // Rebuilds the list from the index files of Folder, every entry checked.
    void LoadSources(const QString& folder);
    // Adds the repositories of Folder's index files not in Known (TSourceList).
    void AddNewFromStore(const QString& folder, const QSet<QString>& known);
    // Shows the model again after something changed it from outside (the check
    // marks the settings apply at start-up, a refresh moving the selection).
    void SyncFromModel();
    // Selects an entry in the list and on screen without raising
    // lstSourcesClick (the refresh walks the list this way).
    void SelectEntry(int index);

    TSourceList& Sources() { return sources_; }
    const TSourceList& Sources() const { return sources_; }

    // Shows what a refresh did: each source that failed gets a mark and its
    // reason as the row's tooltip (until it refreshes, or its text changes),
    // one redirected to https moves there, and the line beside the refresh
    // button sums it up ("Обновлено 12 из 14 источников"). Returns that line.
    QString ShowRefreshOutcomes(const std::vector<TSourceOutcome>& outcomes, bool stopped);
    // The reason the source of Text failed at its last refresh, or empty.
    QString FailureOf(const QString& text) const { return failures_.value(text); }

    // ---- handlers ----
    void lstSourcesClick();
    void btnSrcApplyClick();
    void btnSrcAddClick();
    void btnSrcDeleteClick();

    // Asks the deletion question; true for Yes. Set by the window.
    std::function<bool(const QString& text)> Confirm;
    // Says why a typed address was not taken. Set by the window.
    std::function<void(const QString& text)> ShowError;
    // The phone's architecture chosen in the settings (empty: none chosen),
    // read when an address is typed. Set by the window.
    std::function<QString()> Architecture;

signals:
    void refreshClicked(); // btnSrcRefresh; the strip's Stop raises stopClicked

private:
    void AppendItem(const TSourceEntry& entry);
    void OnSelectionChanged();
    // Shows the model's selection in the list (none: no row selected) and
    // the selected entry's address in the edit field.
    void ShowSelection();
    void Refuse(const QString& action, const QString& reason);

    QListWidget* lstSources_ = nullptr;
    QLineEdit* txtSource_ = nullptr;
    TToolButton srcApply_;           // btnSrcApply / imgSrcApply
    TToolButton srcAdd_;             // btnSrcAdd / imgSrcAdd
    TToolButton srcDelete_;          // btnSrcDelete / imgSrcDelete
    TToolButton srcRefresh_;         // btnSrcRefresh / imgSrcRefresh
    QLabel* lblSrcStatus_ = nullptr; // the last refresh's summary, under the list
    TSourceList sources_;
    QHash<QString, QString> failures_; // source text -> why its last refresh failed
    // True while the widget is being changed from the model, so that the
    // widget's own change signals do not echo back into the model.
    bool updating_ = false;
};
