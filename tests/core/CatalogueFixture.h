#pragma once

#include "catalogue/PackageRow.h"
#include "support/Files.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

// A working folder with "proc", "lists" and "archives" in a temporary folder.
class CatalogueFolder : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* sub : {"proc", "lists", "archives"})
            ASSERT_TRUE(QDir(root.path()).mkdir(QString::fromUtf8(sub)));
    }

    QString Path(const std::string& relative) const {
        return root.filePath(QString::fromStdString(relative));
    }
    QString Proc() const { return Path("proc"); }
    QString Lists() const { return Path("lists"); }
    QString Archives() const { return Path("archives"); }

    void Write(const std::string& relative, const std::string& bytes) const {
        TestFiles::WriteBytes(Path(relative), QByteArray::fromStdString(bytes));
    }
    std::string Read(const std::string& relative) const {
        return TestFiles::ReadBytes(Path(relative)).toStdString();
    }

    QTemporaryDir root;
};

// Pins the collation locale for one test and puts the old one back.
class TLocaleGuard {
public:
    explicit TLocaleGuard(const QLocale& locale) : old_(QLocale()) { QLocale::setDefault(locale); }
    ~TLocaleGuard() { QLocale::setDefault(old_); }
    TLocaleGuard(const TLocaleGuard&) = delete;
    TLocaleGuard& operator=(const TLocaleGuard&) = delete;

private:
    QLocale old_;
};

inline TPackageRow Row(std::string_view caption, std::string_view package, int state = 0,
                       std::string_view section = {}) {
    TPackageRow r({caption, {}, package, {}, {}, section});
    r.State = state;
    return r;
}
