#include "PackagesPageFixture.h"

#include "app/ui/PackageDetailsPanel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>

namespace {

using PackageDetails = PackagesPageFixture;

const char* const kPanel[] = {
    "imgApplication", "lblName", "lblVersion", "imgPackage", "lblPackage",  "imgSection",
    "lblSection",     "imgSize", "lblSize",    "imgAuthor",  "lblAuthor",   "imgSite",
    "lblSite",        "imgDesc", "txtDesc",    "imgDepends", "lblDepends1", "lblDepends2",
};

TEST_F(PackageDetails, HiddenUntilARowIsSelected) {
    for (const char* name : kPanel)
        EXPECT_FALSE(Shown(name)) << name;
    LoadRepository();
    ClickRow(1);
    for (const char* name : kPanel)
        EXPECT_TRUE(Shown(name)) << name << " is filled for a full stanza";
    page->HidePackageInfo();
    for (const char* name : kPanel)
        EXPECT_FALSE(Shown(name)) << name;
    // A row without a stanza, or whose index is gone, hides it again.
    ClickRow(1);
    ClickRow(4); // "zed" is in the saved list only
    for (const char* name : kPanel)
        EXPECT_FALSE(Shown(name)) << name;
    ClickRow(1);
    QFile::remove(folders.ProcDir + kRepoIndex);
    ClickRow(0);
    EXPECT_FALSE(Shown("lblName"));
}

TEST_F(PackageDetails, FullStanzaFillsEveryControl) {
    LoadRepository();
    ClickRow(1);
    EXPECT_EQ(LabelText("lblName"), "Example Tweak Pack");
    EXPECT_EQ(LabelText("lblVersion"), "1.0");
    EXPECT_EQ(LabelText("lblPackage"), "com.example.tweak");
    EXPECT_EQ(LabelText("lblSection"), "Tweaks");
    EXPECT_EQ(LabelText("lblSize"), "1234");
    EXPECT_EQ(Find<QLabel>("lblSize")->toolTip(), "http://repo.example.org/debs/tweak_1.0.deb");
    EXPECT_EQ(LabelText("lblAuthor"), "Jane Doe");
    EXPECT_EQ(Find<QLabel>("lblAuthor")->toolTip(), "jane@example.org");
    EXPECT_EQ(LabelText("lblSite"), "http://example.org/tweak");
    EXPECT_EQ(Find<QLabel>("lblSite")->toolTip(), "http://example.org/tweak");
    EXPECT_EQ(Find<QPlainTextEdit>("txtDesc")->toPlainText(), "Example");
    // Pre-dependencies first, in display form; dependencies second, as written.
    EXPECT_EQ(LabelText("lblDepends1"), "dpkg (>= 1.14)");
    EXPECT_EQ(LabelText("lblDepends2"), "a,b (>= 1.0),  c");
}

// A text too long for its place is cut with "…" and shown whole as a tooltip;
// nothing grows over its neighbours.
TEST_F(PackageDetails, LongTextsAreCutWithAnEllipsisAndShownWhole) {
    const std::string name = "Пакет с очень длинным именем " + std::string(120, 'x') + " конец";
    const std::string site = "http://example.org/" + std::string(200, 'p');
    Write(folders.ProcDir + kRepoIndex,
          "Package: long\nName: " + name + "\nHomepage: " + site + "\nSection: Tweaks\n");
    WriteCache({{"Tweaks", "Long", 0, "", "long", "", kRepoIndex}});
    ASSERT_TRUE(page->LoadPackageList(""));
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
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString().toStdString(), site);
}

TEST_F(PackageDetails, FieldNamesInAnyCaseAndFallbacks) {
    LoadRepository();
    ClickRow(2);
    EXPECT_EQ(LabelText("lblName"), "Блестящая тема");
    // "Size:999" lacks the blank: no size, and its controls hide.
    EXPECT_FALSE(Shown("lblSize"));
    EXPECT_FALSE(Shown("imgSize"));
    EXPECT_EQ(Find<QLabel>("lblSize")->toolTip(), "http://repo.example.org/debs/theme_2.0.deb");
    // Maintainer stands in for the author; without "<" it is its own address.
    EXPECT_EQ(LabelText("lblAuthor"), "theme@example.org");
    EXPECT_EQ(Find<QLabel>("lblAuthor")->toolTip(), "theme@example.org");
    // Depiction stands in for the home page.
    EXPECT_EQ(LabelText("lblSite"), "http://example.org/depict");
    EXPECT_EQ(LabelText("lblDepends1"), "libexample (>= 0.9), libfoo");
    EXPECT_FALSE(Shown("lblDepends2"));
    EXPECT_TRUE(Shown("imgDepends"));
}

TEST_F(PackageDetails, MissingFieldsHideTheirControls) {
    LoadRepository();
    ClickRow(0);
    EXPECT_EQ(LabelText("lblName"), "net.bare.tool") << "no Name: the identifier";
    for (const char* name : {"imgApplication", "lblName", "lblVersion", "imgPackage", "lblPackage",
                             "imgSection", "lblSection"})
        EXPECT_TRUE(Shown(name)) << name;
    for (const char* name : {"imgSize", "lblSize", "imgAuthor", "lblAuthor", "imgSite", "lblSite",
                             "imgDesc", "txtDesc", "imgDepends", "lblDepends1", "lblDepends2"})
        EXPECT_FALSE(Shown(name)) << name;
}

TEST_F(PackageDetails, MarkupInIndexTextsIsShownAsText) {
    const char* index = "x.example.org_Packages";
    Write(folders.ProcDir + index, "Package: m\nName: <b>Bold</b> <img src=x>\n");
    WriteCache({{"S", "m", 0, "", "m", "", index}});
    ASSERT_TRUE(page->LoadPackageList(""));
    ClickRow(0);
    EXPECT_EQ(Find<QLabel>("lblName")->textFormat(), Qt::PlainText);
    EXPECT_EQ(LabelText("lblName"), "<b>Bold</b> <img src=x>");
}

TEST_F(PackageDetails, DependencyClicksCycleThroughTheSearchField) {
    LoadRepository();
    ClickRow(1);
    auto* second = Find<QLabel>("lblDepends2");
    const char* cycle[] = {"a", "b", "c", "a"};
    for (const char* expected : cycle) {
        QTest::mouseClick(second, Qt::LeftButton);
        EXPECT_EQ(Search()->text(), expected);
    }
    Search()->setText("x");
    QTest::mouseClick(second, Qt::LeftButton);
    EXPECT_EQ(Search()->text(), "a");
    // One item only: every click gives it again; the first label works alike.
    auto* first = Find<QLabel>("lblDepends1");
    QTest::mouseClick(first, Qt::LeftButton);
    EXPECT_EQ(Search()->text(), "dpkg");
    QTest::mouseClick(first, Qt::LeftButton);
    EXPECT_EQ(Search()->text(), "dpkg");
    // A right click copies and leaves the search field alone.
    QTest::mouseClick(second, Qt::RightButton);
    EXPECT_EQ(Search()->text(), "dpkg");
}

TEST_F(PackageDetails, RightClickCopiesNineTexts) {
    LoadRepository();
    ClickRow(1);
    struct Copy {
        const char* label;
        QString text;
        bool plainLeft; // a left click has no action of its own
    };
    const Copy copies[] = {
        {"lblName", "Example Tweak Pack", true},
        {"lblVersion", "1.0", true},
        {"lblPackage", "com.example.tweak", true},
        {"lblSection", "Tweaks", false},
        {"lblSize", "http://repo.example.org/debs/tweak_1.0.deb", true},
        {"lblAuthor", "jane@example.org", false},
        {"lblSite", "http://example.org/tweak", false},
        {"lblDepends1", "dpkg (>= 1.14)", false},
        {"lblDepends2", "a,b (>= 1.0),  c", false},
    };
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const Copy& c : copies) {
        clipboard->setText("before");
        QTest::mouseClick(Find<QLabel>(c.label), Qt::LeftButton);
        if (c.plainLeft) {
            EXPECT_EQ(clipboard->text(), "before") << c.label << ": left click copies nothing";
        }
        QTest::mousePress(Find<QLabel>(c.label), Qt::RightButton);
        EXPECT_EQ(clipboard->text(), c.text) << c.label;
    }
    EXPECT_EQ(Sections()->currentText(), "Tweaks") << "the left click on the category label";
}

TEST_F(PackageDetails, LinksOpenMailAndSiteTargets) {
    LoadRepository();
    ClickRow(1);
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("lblSite"), Qt::LeftButton);
    ClickRow(3);
    ClickRow(2);
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("lblSite"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::RightButton);
    // A link is as wide as its text: the space after it is no link.
    EXPECT_LT(Find<QLabel>("lblSite")->width(), 261);
    EXPECT_EQ(Find<QLabel>("lblSite")->width(), Find<QLabel>("lblSite")->sizeHint().width());
    ASSERT_EQ(opened.size(), 4u);
    EXPECT_EQ(opened[0], QUrl("mailto:jane@example.org"));
    EXPECT_EQ(opened[1], QUrl("http://example.org/tweak"));
    EXPECT_EQ(opened[2], QUrl("mailto:theme@example.org"));
    EXPECT_EQ(opened[3], QUrl("http://example.org/depict"));
}

TEST_F(PackageDetails, LinksFromAnIndexNeverOpenLocalTargets) {
    const char* index = "x.example.org_Packages";
    Write(folders.ProcDir + index, "Package: evil\nHomepage: file:///etc/passwd\n"
                                   "Author: x <a@b.c?attach=/home/u/.ssh/id_rsa>\n");
    WriteCache({{"S", "evil", 0, "", "evil", "", index}});
    ASSERT_TRUE(page->LoadPackageList(""));
    ClickRow(0);
    QTest::mouseClick(Find<QLabel>("lblSite"), Qt::LeftButton);
    QTest::mouseClick(Find<QLabel>("lblAuthor"), Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("mailto:a@b.c"));
}

TEST(LinkUrlTest, AcceptsWebAndMailOnly) {
    struct Case {
        const char* target;
        const char* url; // "" when refused
    };
    const Case cases[] = {
        {"http://example.org/x", "http://example.org/x"},
        {"HTTPS://example.org", "https://example.org"},
        {"ftp://example.org/f", "ftp://example.org/f"},
        {"  www.example.org/page ", "http://www.example.org/page"},
        {"example.org:8080/a", "http://example.org:8080/a"},
        {"mailto:jane@example.org", "mailto:jane@example.org"},
        {"mailto:jane@example.org?attach=/etc/passwd", "mailto:jane@example.org"},
        {"file:///etc/passwd", ""},
        {"/usr/bin/xterm", ""},
        {"javascript:alert(1)", ""},
        {"smb://host/share", ""},
        {"http://", ""},
        {"", ""},
        {"   ", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LinkUrl(c.target), c.url[0] ? QUrl(c.url) : QUrl()) << '"' << c.target << '"';
}

} // namespace
