#pragma once

#include <QString>

#include <string_view>

// The working folder (the folder of the program file) and its three
// sub-folders. Every path ends with "/".
struct TWorkFolders {
    QString WorkDir;
    QString ListsDir;
    QString ProcDir;
    QString ArchivesDir;
};

namespace Startup {

// Makes WorkDir the current directory, creates "lists", "proc" and "archives"
// when missing (in that order) and removes what a run that was killed may have
// left: every scratch name the program makes (see IsScratchName), and nothing
// else. SettingsName is the settings file's name in WorkDir ("orvia.ini"),
// whose temporary copies count as scratch too. False with the system's error
// text in Error when the folder cannot be entered or a sub-folder cannot be
// created.
bool PrepareWorkFolders(const QString& workDir, TWorkFolders& folders, QString& error,
                        const QString& settingsName = QString());

// The folders whose scratch names differ.
enum class TScratchPlace {
    WorkDir,  // transfers, unpacking, the plugin's and the settings' temporaries
    Store,    // "proc" and "lists": temporaries of indexes and of "cache.txt"
    Archives, // "archives": temporaries of packages being stored
};

// True when Name, an entry of the folder Place, is a name the program makes
// for a moment only:
//  - in WorkDir: "download.txt", "download.bz2", "download.txt.gz", ".bz2",
//    ".xz", ".zst", "download.deb", "download.list"; ".T-Pot-" and
//    ".unpack-" followed by six letters or digits; "." + one of those fixed
//    names, "T-Pot.dll" or SettingsName + "." + six letters or digits (the
//    temporary file beside a file being replaced);
//  - in Store: "." + "cache.txt" or an index name + "." + six letters or digits;
//  - in Archives: "." + a name not starting with "." + "." + six letters or digits.
// A look-alike the program never makes ("download.txt.keep", ".T-Pot-1",
// ".orvia.ini.bak") is not scratch.
bool IsScratchName(TScratchPlace place, std::string_view name, std::string_view settingsName = {});

// The folder of a program file path, ending with "/".
QString FolderOf(const QString& programFilePath);

} // namespace Startup
