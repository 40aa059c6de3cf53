#pragma once

#include <QString>

// The working folder (the folder of the program file) and its three
// sub-folders. Every path ends with "/".
struct WorkFolders {
    QString WorkDir;
    QString ListsDir;
    QString ProcDir;
    QString ArchivesDir;
};

namespace Startup {

// Makes WorkDir the current directory, creates "lists", "proc" and "archives"
// when missing (in that order) and removes the scratch files an interrupted
// refresh may have left ("download.txt", "download.bz2"). False with the
// system's error text in Error when the folder cannot be entered or a
// sub-folder cannot be created.
bool PrepareWorkFolders(const QString& workDir, WorkFolders& folders, QString& error);

// The folder of a program file path, ending with "/".
QString FolderOf(const QString& programFilePath);

} // namespace Startup
