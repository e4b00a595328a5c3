#include "deviceconfig.h"

#include "programfiles.h"

#include <QFile>
#include <QSettings>

namespace {
const char DevicesGroup[] = "Devices Name";
} // namespace

QString DeviceConfig::keyFor(quint16 vid)
{
    return QStringLiteral("0x%1").arg(vid, 4, 16, QLatin1Char('0'));
}

QString DeviceConfig::getDeviceName(quint16 vid) const
{
    if (!QFile::exists(ProgramFiles::settingsPath()))
        return QString();
    QSettings settings(ProgramFiles::settingsPath(), QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(DevicesGroup));
    return settings.value(keyFor(vid), QString()).toString();
}
