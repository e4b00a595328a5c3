#include "firmwaredialog.h"

#include "programfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

namespace {
const char LastFolderKey[] = "File Choice/Last Folder";

QSettings settings()
{
    return QSettings(ProgramFiles::settingsPath(), QSettings::IniFormat);
}
} // namespace

QString FirmwareDialog::startFolder()
{
    const QString last = settings().value(QLatin1String(LastFolderKey)).toString();
    return !last.isEmpty() && QFileInfo(last).isDir() ? last : QDir::homePath();
}

void FirmwareDialog::remember(const QString &chosenFile)
{
    settings().setValue(QLatin1String(LastFolderKey), QFileInfo(chosenFile).absolutePath());
}

QString FirmwareDialog::ask(QWidget *parent)
{
    const QString filter = QCoreApplication::translate("UpgradePage", "固件或压缩包 (*.img *.zip)")
            + QStringLiteral(";;") + QCoreApplication::translate("UpgradePage", "所有文件 (*)");
    const QString chosen = QFileDialog::getOpenFileName(parent, QString(), startFolder(), filter);
    if (!chosen.isEmpty())
        remember(chosen);
    return chosen;
}
