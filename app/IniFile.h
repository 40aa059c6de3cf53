#pragma once

#include <QString>
#include <QStringList>

// A small INI settings file with the semantics of the classic profile
// functions: section and key names match without regard to letter case, blanks
// around keys and values are trimmed, a value in matching quotes loses them,
// and each write goes to the file at once. Every write replaces the whole file
// atomically (temporary file beside it, then rename), so a crash never leaves
// half a settings file. Lines the program does not understand are kept.
class IniFile {
public:
    explicit IniFile(QString path);

    const QString& Path() const { return path_; }

    // The value of Key in Section, or Default when the file, section or key is
    // missing. The file is read anew on every call.
    QString ReadString(const QString& section, const QString& key, const QString& def) const;

    // Decimal or "0x"/"0X" hexadecimal (optionally signed); anything else, or a
    // value outside the 32-bit range, gives Default.
    int ReadInteger(const QString& section, const QString& key, int def) const;

    // An integer read as above; any value other than 0 is true.
    bool ReadBool(const QString& section, const QString& key, bool def) const;

    // The key names of Section in file order (one per key line).
    QStringList ReadSectionKeys(const QString& section) const;

    // Sets Key in Section, creating both when missing (a new section goes to the
    // end of the file, a new key to the end of its section). False when the file
    // could not be written; the old file then stays as it was.
    bool WriteString(const QString& section, const QString& key, const QString& value);

    // Removes Section with all its keys. False when the file could not be written.
    bool EraseSection(const QString& section);

    // A description of the last failed write (empty when none failed).
    QString ErrorString() const { return error_; }

private:
    QString path_;
    QString error_;
};

// Parses an integer the way settings values are read: optional blanks are
// already trimmed; optional sign; decimal digits, or "0x"/"0X" and hexadecimal
// digits; must fit in 32 bits. False for anything else.
bool ParseProfileInteger(const QString& text, int& value);
