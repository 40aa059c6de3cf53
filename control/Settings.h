#pragma once

#include "base/IniFile.h"
#include "sources/SourceList.h"

// The options of the Settings page.
struct TOptions {
    bool Refresh = false;
    bool GetCydia = false;
    bool PutCydia = false;
    bool PutDebs = false;
    bool PutAutoInstall = false;
    // The phone's package architecture ("iphoneos-arm", "iphoneos-arm64" or
    // "iphoneos-arm64e"); empty lists the packages of every architecture.
    QString Architecture;
    bool operator==(const TOptions&) const = default;
};

namespace Settings {

// The architectures a phone can have, in the order the Settings page offers them.
const QStringList& PhoneArchitectures();

// Text as one of PhoneArchitectures(), trimmed and without regard to letter case;
// anything else (a hand-edited typo, an unknown architecture) gives the empty
// text, which lists every package rather than hiding them all.
QString NormalizeArchitecture(const QString& text);

// "<dir>/orvia.bin" -> "<dir>/orvia.ini": the program file's path with its
// extension replaced by ".ini" (added when it has none).
QString SettingsFilePath(const QString& programFilePath);

// Reads the options; puts the saved source list (section "Sources", when
// the file has one) in place of the one rebuilt from the store, the remembered
// https sources (section "Https") and the check marks (section "Disabled").
TOptions LoadSettings(const TIniFile& ini, TSourceList& sources);

// Writes the options, the active page and the sections "Disabled", "Sources"
// (key "Count", then one numbered key per entry in list order) and "Https"
// (the index names of https sources) with one replacement of the file. False when the file could
// not be written (ini.ErrorString() tells why); the old file then stays as it was.
bool SaveSettings(TIniFile& ini, const TOptions& settings, int activePage,
                  const TSourceList& sources);

// Why a value from outside (a source address) cannot be kept in the settings
// file, or empty when it can: a control character (a line break would end
// its line, the others do not read back as they were) or more than
// MaxValueLength characters (one value must never push the file past its
// size limit and fail the whole save). SaveSettings leaves such a value out,
// with the reason on stderr.
inline constexpr qsizetype MaxValueLength = 4096;
QString UnstorableReason(const QString& value);

// "ActivePage" of section "Settings" (default 0); -1 when outside 0 to 3.
int ReadActivePage(const TIniFile& ini);

} // namespace Settings
