#include "PackagesPageFixture.h"

#include "app/ui/PackageDetailsPanel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>

#include <cstring>

namespace {

class PackageDetails : public PackagesPage {};

// A label of the panel and its picture (nullptr: none).
const std::pair<const char*, const char*> Controls[] = {
    {"lblName", "imgApplication"}, {"lblVersion", nullptr}, {"lblPackage", "imgPackage"},
    {"lblSection", "imgSection"},  {"lblSize", "imgSize"},  {"lblAuthor", "imgAuthor"},
    {"lblSite", "imgSite"},        {"txtDesc", "imgDesc"},  {"lblDepends1", "imgDepends"},
    {"lblDepends2", nullptr},
};

const char* PictureOf(const std::string& label) {
    for (const auto& [name, picture] : Controls)
        if (label == name)
            return picture;
    return nullptr;
}

TEST_F(PackageDetails, HiddenUntilARowWithAStanzaIsSelected) {
    const auto expectShown = [&](bool shown) {
        for (const auto& [label, picture] : Controls) {
            EXPECT_EQ(Shown(label), shown) << label;
            EXPECT_TRUE(!picture || Shown(picture) == shown) << label;
        }
    };
    expectShown(false);
    LoadRepository();
    ClickRow(1);
    expectShown(true);
    page_->HidePackageInfo();
    expectShown(false);
    // A row without a stanza, or whose index is gone, hides it again.
    ClickRow(1);
    ClickRow(4); // "zed" is in the saved list only
    expectShown(false);
    ClickRow(1);
    QFile::remove(folders_.ProcDir + RepoIndex);
    ClickRow(0);
    EXPECT_FALSE(Shown("lblName"));
}

// Each control's text (nullptr: hidden with its picture) and what a right
// click on it copies (nullptr: not checked); a left click on the plain ones
// copies nothing.
TEST_F(PackageDetails, StanzasFillTheControlsAndRightClicksCopyThem) {
    const struct {
        int Row;
        const char *Label, *Text, *Copied;
    } cases[] = {{1, "lblName", "Example Tweak Pack", "Example Tweak Pack"},
                 {1, "lblVersion", "1.0", "1.0"},
                 {1, "lblPackage", "com.example.tweak", "com.example.tweak"},
                 {1, "lblSection", "Tweaks", "Tweaks"},
                 {1, "lblSize", "1234", "http://repo.example.org/debs/tweak_1.0.deb"},
                 {1, "lblAuthor", "Jane Doe", "jane@example.org"},
                 {1, "lblSite", "http://example.org/tweak", "http://example.org/tweak"},
                 {1, "txtDesc", "Example", nullptr},
                 // Pre-dependencies first, in display form; dependencies as written.
                 {1, "lblDepends1", "dpkg (>= 1.14)", "dpkg (>= 1.14)"},
                 {1, "lblDepends2", "a,b (>= 1.0),  c", "a,b (>= 1.0),  c"},
                 // Field names in any case; Maintainer stands in for the author
                 // (without "<" its own address), Depiction for the home page.
                 {2, "lblName", "Блестящая тема", nullptr},
                 {2, "lblAuthor", "theme@example.org", "theme@example.org"},
                 {2, "lblSite", "http://example.org/depict", nullptr},
                 {2, "lblDepends1", "libexample (>= 0.9), libfoo", nullptr},
                 {2, "lblDepends2", nullptr, nullptr},
                 // Without Name, the identifier; missing fields hide their controls.
                 {0, "lblName", "net.bare.tool", nullptr},
                 {0, "lblVersion", "0.1", nullptr},
                 {0, "lblSection", "Utilities", nullptr},
                 {0, "lblSize", nullptr, nullptr},
                 {0, "lblAuthor", nullptr, nullptr},
                 {0, "lblSite", nullptr, nullptr},
                 {0, "txtDesc", nullptr, nullptr},
                 {0, "lblDepends1", nullptr, nullptr},
                 {0, "lblDepends2", nullptr, nullptr}};
    LoadRepository();
    QClipboard* clipboard = QGuiApplication::clipboard();
    int row = -1;
    for (const auto& c : cases) {
        if (c.Row != row)
            ClickRow(row = c.Row);
        SCOPED_TRACE(std::to_string(c.Row) + " " + c.Label);
        const char* picture = PictureOf(c.Label);
        EXPECT_TRUE(!picture || Shown(picture) == (c.Text != nullptr));
        EXPECT_EQ(Shown(c.Label), c.Text != nullptr);
        if (!c.Text)
            continue;
        const QString text =
            c.Label[0] == 't' ? Find<QPlainTextEdit>(c.Label)->toPlainText() : LabelText(c.Label);
        EXPECT_EQ(text.toStdString(), c.Text);
        if (!c.Copied)
            continue;
        clipboard->setText("before");
        // The labels without a left-click action of their own.
        if (std::strstr("lblName lblVersion lblPackage lblSize", c.Label)) {
            QTest::mouseClick(Find<QLabel>(c.Label), Qt::LeftButton);
            EXPECT_EQ(clipboard->text(), "before");
        }
        QTest::mousePress(Find<QLabel>(c.Label), Qt::RightButton);
        EXPECT_EQ(clipboard->text().toStdString(), c.Copied);
    }
}

// A text too long for its place is cut with "…" and shown whole as a tooltip;
// nothing grows over its neighbours.
TEST_F(PackageDetails, LongTextsAreCutWithAnEllipsisAndShownWhole) {
    const std::string name = "Пакет с очень длинным именем " + std::string(120, 'x') + " конец";
    const std::string site = "http://example.org/" + std::string(200, 'p');
    Write(folders_.ProcDir + RepoIndex,
          "Package: long\nName: " + name + "\nHomepage: " + site + "\nSection: Tweaks\n");
    WriteCache({{"Tweaks", "Long", 0, "", "long", "", RepoIndex}});
    ASSERT_TRUE(page_->LoadPackageList(""));
    ClickRow(0);
    for (const auto& [label, full] : {std::pair{"lblName", name}, std::pair{"lblSite", site}}) {
        auto* shown = Find<QLabel>(label);
        EXPECT_TRUE(shown->text().endsWith(QChar(0x2026))) << label;
        EXPECT_TRUE(shown->toolTip().startsWith(QString::fromStdString(full))) << label;
        const int flags = Qt::AlignLeft | Qt::AlignTop | (shown->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect needed =
            QFontMetrics(shown->font()).boundingRect(shown->rect(), flags, shown->text());
        EXPECT_LE(needed.height(), shown->height()) << label;
        EXPECT_LE(needed.width(), shown->width()) << label;
        EXPECT_LE(shown->geometry().right(), Find<QWidget>("grpPackages")->width()) << label;
    }
    // The link still opens the whole address.
    QTest::mouseClick(Find<QLabel>("lblSite"), Qt::LeftButton);
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0].toString().toStdString(), site);
}

// The cycle itself is NextDependency's; the labels feed it the search text.
TEST_F(PackageDetails, DependencyClicksStepThroughTheSearchFieldAndLinksOpenSafely) {
    LoadRepository();
    ClickRow(1);
    auto* second = Find<QLabel>("lblDepends2");
    for (const char* expected : {"a", "b"}) {
        QTest::mouseClick(second, Qt::LeftButton);
        EXPECT_EQ(Search()->text(), expected);
    }
    QTest::mouseClick(Find<QLabel>("lblDepends1"), Qt::LeftButton);
    EXPECT_EQ(Search()->text(), "dpkg");
    // A right click copies and leaves the search field alone.
    QTest::mouseClick(second, Qt::RightButton);
    EXPECT_EQ(Search()->text(), "dpkg");

    for (const int row : {1, 2}) {
        ClickRow(row);
        for (const char* link : {"lblAuthor", "lblSite"})
            QTest::mouseClick(Find<QLabel>(link), Qt::LeftButton);
    }
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::RightButton);
    // A link is as wide as its text: the space after it is no link.
    EXPECT_EQ(Find<QLabel>("lblSite")->width(), Find<QLabel>("lblSite")->sizeHint().width());
    EXPECT_EQ(opened_, (std::vector<QUrl>{
                           QUrl("mailto:jane@example.org"), QUrl("http://example.org/tweak"),
                           QUrl("mailto:theme@example.org"), QUrl("http://example.org/depict")}));

    // Index texts show no markup, and their links never open local targets.
    const char* index = "x.example.org_Packages";
    Write(folders_.ProcDir + index, "Package: evil\nName: <b>Bold</b> <img src=x>\n"
                                    "Homepage: file:///etc/passwd\n"
                                    "Author: x <a@b.c?attach=/home/u/.ssh/id_rsa>\n");
    WriteCache({{"S", "evil", 0, "", "evil", "", index}});
    ASSERT_TRUE(page_->LoadPackageList(""));
    ClickRow(0);
    EXPECT_EQ(Find<QLabel>("lblName")->textFormat(), Qt::PlainText);
    EXPECT_EQ(LabelText("lblName"), "<b>Bold</b> <img src=x>");
    opened_.clear();
    QTest::mouseClick(Find<QLabel>("lblSite"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::LeftButton);
    EXPECT_EQ(opened_, std::vector<QUrl>{QUrl("mailto:a@b.c")});
}

TEST(LinkUrlTest, AcceptsWebAndMailOnly) {
    const std::pair<const char*, const char*> accepted[] = {
        {"http://example.org/x", "http://example.org/x"},
        {"HTTPS://example.org", "https://example.org"},
        {"ftp://example.org/f", "ftp://example.org/f"},
        {"  www.example.org/page ", "http://www.example.org/page"},
        {"example.org:8080/a", "http://example.org:8080/a"},
        {"mailto:jane@example.org", "mailto:jane@example.org"},
        {"mailto:jane@example.org?attach=/etc/passwd", "mailto:jane@example.org"}};
    for (const auto& [target, url] : accepted)
        EXPECT_EQ(LinkUrl(target), QUrl(url)) << target;
    for (const char* target : {"file:///etc/passwd", "/usr/bin/xterm", "javascript:alert(1)",
                               "smb://host/share", "http://", "", "   "})
        EXPECT_EQ(LinkUrl(target), QUrl()) << '"' << target << '"';
}

} // namespace
