#ifndef PROGRAMFILES_H
#define PROGRAMFILES_H

#include <QString>

// Where the program keeps its own files, log.txt and setting.ini (always
// side by side). Run from its build (./run.sh, the tests) it keeps them in
// its working directory. The installed program keeps them in the user's data
// folder: started from the desktop entry its working directory may be a
// system folder, and a user expects neither file in whatever folder a
// terminal was in.
namespace ProgramFiles {

// The program counts as installed when the desktop entry the package installs
// lies beside its binary folder (<prefix>/bin and <prefix>/share/applications).
bool isInstalled(const QString &executableDir);

// The folder for log.txt and setting.ini: `dataFolder` when installed or
// when the working directory cannot be written, else empty (the working
// directory).
QString chooseFolder(bool installed, bool workingDirWritable, const QString &dataFolder);

// Applies the rule to this process: the data folder is the application's
// (QStandardPaths::AppDataLocation, made when missing), and the log goes
// there. Before the first line is logged.
void chooseForThisProgram();

// The chosen folder; empty: the working directory.
QString folder();
// `name` in the chosen folder.
QString path(const QString &name);
// setting.ini in the chosen folder.
QString settingsPath();

} // namespace ProgramFiles

#endif // PROGRAMFILES_H
