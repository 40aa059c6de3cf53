#pragma once

#include "catalogue/PackageDetails.h"

#include <QLabel>
#include <QObject>
#include <QUrl>

#include <functional>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QMouseEvent;

// A label that reports a left click (button released over it) and a right
// button press, as the details labels need for links, dependency cycling and
// copying to the clipboard.
class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();
    void rightPressed();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The address a link label may open: web and mail addresses only. The texts
// come from repository indexes, so a "file:" or other local target must never
// reach the desktop's handler; a bare host name is taken as a web address, and
// a mail address loses any query (an "attach=" parameter would hand a local
// file to the mail program). Invalid when refused.
QUrl LinkUrl(const std::string& target);

// The right half of the Packages page: eighteen controls inside the package
// group showing the selected package's details. Texts are kept as the bytes
// the index gave, so comparisons with the rows never go through a conversion.
class TPackageDetailsPanel : public QObject {
    Q_OBJECT
public:
    // Creates the controls inside Group. Dependency clicks write into Search;
    // link clicks go through *OpenUrl.
    TPackageDetailsPanel(QWidget* group, QLineEdit* search,
                         const std::function<void(const QUrl&)>* openUrl);

    void LoadPictures();
    void ShowPackageInfo(TDebianInfo info);
    void HidePackageInfo();

    // The identifier and category texts of the shown package.
    const std::string& PackageText() const { return package_; }
    const std::string& SectionText() const { return section_; }

    QPlainTextEdit* txtDesc = nullptr;

signals:
    void sectionClicked(); // lblSectionClick

private:
    void lblDependsClick(const std::string& labelText);
    void OpenLink(const std::string& target, const std::string& labelText);
    static void CopyText(const std::string& text);
    void SetLinkLook(QLabel* label);

    QLineEdit* search_ = nullptr;
    const std::function<void(const QUrl&)>* openUrl_ = nullptr;

    QLabel* imgApplication = nullptr;
    TClickLabel* lblName = nullptr;
    TClickLabel* lblVersion = nullptr;
    QLabel* imgPackage = nullptr;
    TClickLabel* lblPackage = nullptr;
    QLabel* imgSection = nullptr;
    TClickLabel* lblSection = nullptr;
    QLabel* imgSize = nullptr;
    TClickLabel* lblSize = nullptr;
    QLabel* imgAuthor = nullptr;
    TClickLabel* lblAuthor = nullptr;
    QLabel* imgSite = nullptr;
    TClickLabel* lblSite = nullptr;
    QLabel* imgDesc = nullptr;
    QLabel* imgDepends = nullptr;
    TClickLabel* lblDepends1 = nullptr;
    TClickLabel* lblDepends2 = nullptr;

    // What the labels show and what their hints and links hold, as bytes.
    std::string name_, version_, package_, section_, size_, address_;
    std::string author_, authorAddress_, authorTarget_, site_;
    std::string depends1_, depends2_;
};
