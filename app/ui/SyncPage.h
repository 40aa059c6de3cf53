#pragma once

#include "app/ui/Widgets.h"

#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;

// The Sync page: the two rows that copy the source lists between computer and
// phone, the three package lists (local cache, Cydia's cache, Cydia's
// automatic installation) with their copy and delete buttons, and the sync
// strip. The handlers of its buttons live with the phone operations.
class TSyncPage : public TStripPage {
    Q_OBJECT
public:
    explicit TSyncPage(QWidget* parent = nullptr);

    void LoadPictures();

    // Replaces the names of one of the three package lists, sorted by name
    // without regard to letter case ("a.deb", "B.deb", "c.deb").
    static void ShowNames(QListWidget* list, QStringList names);

    QLabel* imgComputer1 = nullptr;
    QLabel* imgiPhone1 = nullptr;
    QLabel* imgiPhone2 = nullptr;
    QLabel* imgComputer2 = nullptr;
    TToolButton Comp2Phone; // btnComp2Phone / imgComp2Phone
    TToolButton Phone2Comp; // btnPhone2Comp / imgPhone2Comp

    QLabel* imgLocalCache = nullptr;
    QLabel* lblLocalCache = nullptr;
    QListWidget* lstLocalCache = nullptr;
    QLabel* imgCache = nullptr;
    QLabel* lblCache = nullptr;
    QListWidget* lstCache = nullptr;
    QLabel* imgAutoInstall = nullptr;
    QLabel* lblAutoInstall = nullptr;
    QListWidget* lstAutoInstall = nullptr;

    TToolButton Copy2Cache;        // btnCopy2Cache / imgCopy2Cache
    TToolButton Copy2AutoInstall;  // btnCopy2AutoInstall / imgCopy2AutoInstall
    TToolButton DeleteLocal;       // btnDeleteLocal / imgDeleteLocal
    TToolButton DeleteCache;       // btnDeleteCache / imgDeleteCache
    TToolButton DeleteAutoInstall; // btnDeleteAutoInstall / imgDeleteAutoInstall
};
