#include "app/ui/PackageDetailsPanel.h"

#include "app/ui/Widgets.h"

#include <QClipboard>
#include <QCursor>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QPlainTextEdit>

#include <algorithm>
#include <utility>

void TClickLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        emit rightPressed();
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        // Taking the press makes the release come here too.
        event->accept();
        return;
    }
    QLabel::mousePressEvent(event);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

QUrl LinkUrl(const std::string& target) {
    const QString text = QString::fromUtf8(target).trimmed();
    if (text.isEmpty())
        return {};
    QUrl url(text, QUrl::TolerantMode);
    QString scheme = url.scheme().toLower();
    // "www.example.org" has no scheme, and "example.org:8080" would read its
    // host as one: both are web addresses written without "http://".
    if (scheme.isEmpty() || scheme.contains(QLatin1Char('.'))) {
        url = QUrl(QStringLiteral("http://") + text, QUrl::TolerantMode);
        scheme = QStringLiteral("http");
    }
    if (!url.isValid())
        return {};
    if (scheme == QLatin1String("mailto")) {
        url.setQuery(QString());
        url.setFragment(QString());
        return url;
    }
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
        scheme == QLatin1String("ftp"))
        return url.host().isEmpty() ? QUrl() : url;
    return {};
}

namespace {

constexpr int LabelWidth = 261;

QLabel* MakeIcon(QWidget* parent, const char* name, QPoint pos, int size, const QString& hint) {
    auto* img = new QLabel(parent);
    img->setObjectName(QLatin1String(name));
    img->setGeometry(pos.x(), pos.y(), size, size);
    img->setAlignment(Qt::AlignCenter);
    img->setToolTip(hint);
    return img;
}

TClickLabel* MakeLabel(QWidget* parent, const char* name, QRect geometry) {
    auto* label = new TClickLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    // Index texts are shown as they are: a name like "<b>x</b>" is not markup.
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QString Text(const std::string& bytes) {
    return QString::fromUtf8(bytes);
}

// Shows Full in Label when it fits the label's place (wrapped over its lines
// when the label wraps); otherwise as much of it as fits followed by "…", with
// the whole text in the tooltip ahead of Hint. The label never grows.
void SetFittedText(QLabel* label, const QString& full, const QString& hint = QString()) {
    const QFontMetrics metrics(label->font());
    const QRect place(0, 0, label->width(), label->height());
    const int flags = Qt::AlignLeft | Qt::AlignTop | (label->wordWrap() ? Qt::TextWordWrap : 0);
    auto fits = [&](const QString& text) {
        const QRect needed = metrics.boundingRect(place, flags, text);
        return needed.width() <= place.width() && needed.height() <= place.height();
    };
    if (fits(full)) {
        label->setText(full);
        label->setToolTip(hint);
        return;
    }
    const QString ellipsis(QChar(0x2026));
    // The longest start of the text that fits with the ellipsis; a cut never
    // splits a surrogate pair.
    qsizetype low = 0;
    qsizetype high = full.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (fits(full.left(mid) + ellipsis))
            low = mid;
        else
            high = mid - 1;
    }
    if (low > 0 && full[low - 1].isHighSurrogate())
        --low;
    label->setText(full.left(low).trimmed() + ellipsis);
    label->setToolTip(hint.isEmpty() ? full : full + QLatin1Char('\n') + hint);
}

// A link is only as wide as its text (up to the panel's edge), so the hand
// pointer and the click belong to the text and not to the empty space after it.
void FitLinkWidth(QLabel* link) {
    link->resize(std::min(LabelWidth, link->sizeHint().width()), link->height());
}

} // namespace

TPackageDetailsPanel::TPackageDetailsPanel(QWidget* group, QLineEdit* search,
                                           const std::function<void(const QUrl&)>* openUrl)
    : QObject(group), search_(search), openUrl_(openUrl) {
    imgApplication = MakeIcon(group, "imgApplication", {280, 20}, 48, QString());
    imgApplication->setToolTip(QString());

    lblName = MakeLabel(group, "lblName", {336, 24, 225, 33});
    QFont nameFont = lblName->font();
    nameFont.setBold(true);
    lblName->setFont(nameFont);
    lblName->setWordWrap(true);

    lblVersion = MakeLabel(group, "lblVersion", {336, 56, 225, 17});
    QFont versionFont = lblVersion->font();
    versionFont.setBold(true);
    versionFont.setPixelSize(11);
    lblVersion->setFont(versionFont);
    lblVersion->setWordWrap(true);
    QPalette versionPalette = lblVersion->palette();
    versionPalette.setColor(QPalette::WindowText, QColor(Qt::darkGray));
    lblVersion->setPalette(versionPalette);

    imgSection = MakeIcon(group, "imgSection", {280, 76}, 16, QStringLiteral("Категория"));
    lblSection = MakeLabel(group, "lblSection", {300, 76, 261, 17});
    imgPackage =
        MakeIcon(group, "imgPackage", {280, 96}, 16, QStringLiteral("Идентификатор пакета"));
    lblPackage = MakeLabel(group, "lblPackage", {300, 96, 261, 17});
    imgSize = MakeIcon(group, "imgSize", {280, 116}, 16, QStringLiteral("Размер пакета"));
    lblSize = MakeLabel(group, "lblSize", {300, 116, 261, 17});
    imgAuthor = MakeIcon(group, "imgAuthor", {280, 136}, 16, QStringLiteral("E-mail автора"));
    lblAuthor = MakeLabel(group, "lblAuthor", {300, 136, 261, 17});
    imgSite = MakeIcon(group, "imgSite", {280, 156}, 16, QStringLiteral("Домашняя страница"));
    lblSite = MakeLabel(group, "lblSite", {300, 156, 261, 17});
    SetLinkLook(lblAuthor);
    SetLinkLook(lblSite);

    imgDesc = MakeIcon(group, "imgDesc", {280, 176}, 16, QStringLiteral("Описание"));
    txtDesc = new QPlainTextEdit(group);
    txtDesc->setObjectName(QStringLiteral("txtDesc"));
    txtDesc->setGeometry(300, 176, 261, 85);
    txtDesc->setReadOnly(true);
    txtDesc->setTabChangesFocus(true);
    txtDesc->setFrameShape(QFrame::NoFrame);
    QFont descFont = txtDesc->font();
    descFont.setPixelSize(11);
    txtDesc->setFont(descFont);
    // No bevel: the text lies on the group's own background.
    txtDesc->viewport()->setAutoFillBackground(false);
    txtDesc->setBackgroundVisible(false);

    imgDepends = MakeIcon(group, "imgDepends", {280, 264}, 16, QStringLiteral("Зависимости"));
    lblDepends1 = MakeLabel(group, "lblDepends1", {300, 264, 261, 17});
    lblDepends2 = MakeLabel(group, "lblDepends2", {300, 280, 261, 17});

    connect(lblSection, &TClickLabel::clicked, this, &TPackageDetailsPanel::sectionClicked);
    connect(lblAuthor, &TClickLabel::clicked, this, [this] { OpenLink(authorTarget_, author_); });
    connect(lblSite, &TClickLabel::clicked, this, [this] { OpenLink(site_, site_); });
    connect(lblDepends1, &TClickLabel::clicked, this, [this] { lblDependsClick(depends1_); });
    connect(lblDepends2, &TClickLabel::clicked, this, [this] { lblDependsClick(depends2_); });

    // Right button: copy. The size, author and site labels give their hints
    // (download address, e-mail, site), the others their texts.
    const std::pair<TClickLabel*, const std::string*> copies[] = {
        {lblName, &name_},       {lblVersion, &version_},   {lblPackage, &package_},
        {lblSection, &section_}, {lblSize, &address_},      {lblAuthor, &authorAddress_},
        {lblSite, &site_},       {lblDepends1, &depends1_}, {lblDepends2, &depends2_},
    };
    for (const auto& [label, text] : copies)
        connect(label, &TClickLabel::rightPressed, this, [text] { CopyText(*text); });

    HidePackageInfo();
}

void TPackageDetailsPanel::SetLinkLook(QLabel* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, QPalette::Highlight));
    label->setPalette(palette);
    const QPixmap hand(QStringLiteral(":/png/HAND"));
    label->setCursor(hand.isNull() ? QCursor(Qt::PointingHandCursor) : QCursor(hand, 11, 1));
}

void TPackageDetailsPanel::LoadPictures() {
    LoadPNG(QStringLiteral("APPLICATION"), imgApplication);
    LoadPNG(QStringLiteral("PACKAGE"), imgPackage);
    LoadPNG(QStringLiteral("AUTHOR"), imgAuthor);
    LoadPNG(QStringLiteral("DESC"), imgDesc);
    LoadPNG(QStringLiteral("SITE"), imgSite);
    LoadPNG(QStringLiteral("SIZE"), imgSize);
    LoadPNG(QStringLiteral("DEPENDS"), imgDepends);
    LoadPNG(QStringLiteral("SECTION"), imgSection);
}

void TPackageDetailsPanel::HidePackageInfo() {
    for (QWidget* w : std::initializer_list<QWidget*>{
             imgApplication, lblName, lblVersion, imgPackage, lblPackage, imgSection, lblSection,
             imgSize, lblSize, imgAuthor, lblAuthor, imgSite, lblSite, imgDesc, txtDesc, imgDepends,
             lblDepends1, lblDepends2})
        w->hide();
}

void TPackageDetailsPanel::ShowPackageInfo(TDebianInfo info) {
    name_ = info.Name;
    version_ = info.Version;
    package_ = info.Package;
    SetFittedText(lblName, Text(name_));
    // The builds of one version differ only in their architecture, so it
    // stands beside the version; a right click still copies the version alone.
    SetFittedText(lblVersion, info.Architecture.empty()
                                  ? Text(version_)
                                  : Text(version_) + QStringLiteral(" (") +
                                        Text(info.Architecture) + QLatin1Char(')'));
    SetFittedText(lblPackage, Text(package_));
    for (QWidget* w : {static_cast<QWidget*>(imgApplication), static_cast<QWidget*>(lblName),
                       static_cast<QWidget*>(lblVersion), static_cast<QWidget*>(imgPackage),
                       static_cast<QWidget*>(lblPackage)})
        w->show();

    size_ = info.Size;
    SetFittedText(lblSize, Text(size_));
    lblSize->setVisible(!size_.empty());
    imgSize->setVisible(!size_.empty());
    txtDesc->setPlainText(Text(info.Description));
    txtDesc->setVisible(!info.Description.empty());
    imgDesc->setVisible(!info.Description.empty());
    section_ = info.Section;
    SetFittedText(lblSection, Text(section_));
    lblSection->setVisible(!section_.empty());
    imgSection->setVisible(!section_.empty());

    const std::string& author = info.Author.empty() ? info.Maintainer : info.Author;
    lblAuthor->setVisible(!author.empty());
    imgAuthor->setVisible(!author.empty());
    author_.clear();
    authorAddress_.clear();
    authorTarget_.clear();
    if (!author.empty()) {
        const TAuthorLink link = SplitAuthor(author);
        author_ = link.Text;
        authorAddress_ = link.Address;
        authorTarget_ = "mailto:" + link.Address;
    }
    lblAuthor->resize(LabelWidth, lblAuthor->height());
    SetFittedText(lblAuthor, Text(author_), Text(authorAddress_));
    FitLinkWidth(lblAuthor);

    site_ = info.Homepage.empty() ? info.Depiction : info.Homepage;
    lblSite->resize(LabelWidth, lblSite->height());
    SetFittedText(lblSite, Text(site_));
    if (lblSite->toolTip().isEmpty())
        lblSite->setToolTip(Text(site_));
    FitLinkWidth(lblSite);
    lblSite->setVisible(!site_.empty());
    imgSite->setVisible(!site_.empty());

    if (!info.PreDepends.empty()) {
        depends1_ = DependsDisplay(info.PreDepends);
        depends2_ = info.Depends;
    } else {
        depends1_ = DependsDisplay(info.Depends);
        depends2_.clear();
    }
    SetFittedText(lblDepends1, Text(depends1_));
    SetFittedText(lblDepends2, Text(depends2_));
    lblDepends1->setVisible(!depends1_.empty());
    lblDepends2->setVisible(!depends2_.empty());
    imgDepends->setVisible(!info.Depends.empty() || !info.PreDepends.empty());

    address_ = info.Filename;
    SetFittedText(lblSize, Text(size_), Text(address_));
}

void TPackageDetailsPanel::lblDependsClick(const std::string& labelText) {
    if (labelText.empty() || search_ == nullptr)
        return;
    const QByteArray current = search_->text().toUtf8();
    search_->setText(Text(NextDependency(labelText, current.toStdString())));
}

void TPackageDetailsPanel::OpenLink(const std::string& target, const std::string& labelText) {
    const QUrl url = LinkUrl(target.empty() ? labelText : target);
    if (url.isValid() && openUrl_ != nullptr && *openUrl_)
        (*openUrl_)(url);
}

void TPackageDetailsPanel::CopyText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard())
        clipboard->setText(Text(text));
}
