#pragma once

#include "base/SafeFiles.h"

#include <QString>
#include <QStringList>

#include <vector>

// One key line of a section: the key name and its value as read (trimmed,
// quotes removed).
struct TIniEntry {
    QString Key;
    QString Value;
};

// Changes made together by TIniFile::Apply.
struct TIniValue {
    QString Section;
    QString Key;
    QString Value;
};
struct TIniSection {
    QString Name;
    std::vector<TIniEntry> Entries;
};

// A small INI settings file with the semantics of the classic profile
// functions: section and key names match without regard to letter case, blanks
// around keys and values are trimmed, a value in matching quotes loses them,
// and each write goes to the file at once. Every write replaces the whole file
// atomically (temporary file beside it, then rename), so a crash never leaves
// half a settings file. A line ends at LF, CR LF or a lone CR; lines the
// program does not change keep their bytes, line breaks included.
class TIniFile {
public:
    explicit TIniFile(QString path);

    const QString& Path() const { return path_; }

    // The value of Key in Section, or Default without its trailing blanks when
    // the file, section or key is missing. The file is read anew on every call.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Decimal or "0x"/"0X" hexadecimal (optionally signed); anything else, or a
    // value outside the 32-bit range, gives Default.
    int ReadInteger(const QString& section, const QString& key, int def) const;

    // An integer read as above; any value other than 0 is true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // The key names of Section in file order (one per key line).
    QStringList ReadSectionKeys(const QString& section) const;

    // Every key line of Section in file order, read from one snapshot of the
    // file. Lets a caller look up many keys without reading the file each time.
    std::vector<TIniEntry> ReadSection(const QString& section) const;

    // Sets Key in Section, creating both when missing (a new section goes to the
    // end of the file, a new key to the end of its section). False when the file
    // could not be written; the old file then stays as it was. A name or value
    // that cannot live on one line (line breaks, "=" or a leading ";" or "[" in
    // a key, "]" in a section) is refused the same way. A value with blanks at
    // its ends or in matching quotes is written quoted, so it reads back as is.
    bool WriteString(const QString& section, const QString& key, const QString& value);

    // Removes Section with all its keys; every section of that name goes, so no
    // stale copy further down can take its place. False when the file could not
    // be written.
    bool EraseSection(const QString& section);

    // EraseSection followed by writing Entries one by one into a fresh section at
    // the end of the file, done as one atomic replacement. No entries leaves no
    // section.
    bool ReplaceSection(const QString& section, const std::vector<TIniEntry>& entries);

    // Values set as WriteString sets them, in order, then Sections replaced as
    // ReplaceSection replaces them, all in one replacement of the file: either
    // every change is saved or none is. Nothing is written when one name or
    // value is refused, nor when there is nothing to change.
    bool Apply(const std::vector<TIniValue>& values, const std::vector<TIniSection>& sections);

    // Files larger than this are not settings files: reads give the defaults and
    // writes are refused, so a stray huge file is never silently replaced.
    static constexpr qint64 MaxFileSize = qint64(SafeFiles::MaxSettingsSize);

    // A description of the last failed write (empty when none failed).
    QString ErrorString() const { return error_; }

private:
    bool Fail(const QString& reason);

    QString path_;
    QString error_;
};

// Parses an integer the way settings values are read: optional blanks are
// already trimmed; optional sign; decimal digits, or "0x"/"0X" and hexadecimal
// digits; must fit in 32 bits. False for anything else.
bool ParseProfileInteger(const QString& text, int& value);
