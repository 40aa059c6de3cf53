#pragma once

#include "app/ui/Widgets.h"
#include "device/PackageCaches.h"

#include <QStringList>
#include <QWidget>

#include <array>

class QLabel;
class QListWidget;

// The Sync page: the two rows that copy the source lists between computer and
// phone, the three package lists (local cache, Cydia's cache, Cydia's
// automatic installation) with their copy and delete buttons, and the sync
// strip. Its buttons are signals; the phone operations answer them.
class TSyncPage : public TStripPage {
    Q_OBJECT
public:
    explicit TSyncPage(QWidget* parent = nullptr);

    void LoadPictures();

    // Replaces the names of one of the three package lists, sorted by name
    // without regard to letter case ("a.deb", "B.deb", "c.deb").
    void ShowNames(TCacheList list, QStringList names);
    // The selected line of a list; empty when none is selected.
    QString Selected(TCacheList list) const;
    // Says quietly, over a phone list, why its folder could not be read (also
    // as the list's tooltip); an empty reason takes it away. True when the
    // reason differs from the one shown before.
    bool ShowListProblem(TCacheList list, const QString& reason);

signals:
    void sourcesToPhoneClicked();        // btnComp2Phone
    void sourcesFromPhoneClicked();      // btnPhone2Comp
    void copyClicked(TCacheList target); // btnCopy2Cache, btnCopy2AutoInstall
    void deleteClicked(TCacheList list); // btnDeleteLocal, btnDeleteCache, btnDeleteAutoInstall

private:
    QListWidget* ListOf(TCacheList list) const { return lists_[static_cast<std::size_t>(list)]; }

    QLabel* imgComputer1_ = nullptr;
    QLabel* imgiPhone1_ = nullptr;
    QLabel* imgiPhone2_ = nullptr;
    QLabel* imgComputer2_ = nullptr;
    QLabel* imgLocalCache_ = nullptr;
    QLabel* imgCache_ = nullptr;
    QLabel* imgAutoInstall_ = nullptr;
    std::array<QListWidget*, 3> lists_{};      // lstLocalCache, lstCache, lstAutoInstall
    std::array<QLabel*, 3> problems_{};        // none, lblCacheProblem, lblAutoInstallProblem
    std::array<TToolButton, 2> sourceCopies_;  // btnComp2Phone, btnPhone2Comp
    std::array<TToolButton, 2> packageCopies_; // btnCopy2Cache, btnCopy2AutoInstall
    std::array<TToolButton, 3> deletions_;     // btnDeleteLocal, btnDeleteCache, ...
};
