#include "programfiles.h"

#include "logsystem.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace {
const char DesktopEntry[] = "../share/applications/" TAVIO_APP_ID ".desktop";
const char SettingsFileName[] = "setting.ini";

QMutex folderMutex;
QString chosenFolder; // guarded by folderMutex
} // namespace

namespace ProgramFiles {

bool isInstalled(const QString &executableDir)
{
    return QFileInfo::exists(QDir(executableDir).filePath(QString::fromLatin1(DesktopEntry)));
}

QString chooseFolder(bool installed, bool workingDirWritable, const QString &dataFolder)
{
    return installed || !workingDirWritable ? dataFolder : QString();
}

void chooseForThisProgram()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString chosen = chooseFolder(isInstalled(QCoreApplication::applicationDirPath()),
                                        QFileInfo(QDir::currentPath()).isWritable(), data);
    if (chosen.isEmpty())
        return;
    QDir().mkpath(chosen);
    {
        QMutexLocker lock(&folderMutex);
        chosenFolder = chosen;
    }
    LogSystem::instance()->setFilePath(path(QString::fromLatin1(LogSystem::FileName)));
}

QString folder()
{
    QMutexLocker lock(&folderMutex);
    return chosenFolder;
}

QString path(const QString &name)
{
    const QString chosen = folder();
    return chosen.isEmpty() ? name : QDir(chosen).filePath(name);
}

QString settingsPath()
{
    return path(QString::fromLatin1(SettingsFileName));
}

} // namespace ProgramFiles
