#include "deviceconfig.h"

#include <QFile>
#include <QSettings>

namespace {
const char SettingsFile[] = "setting.ini";
const char DevicesGroup[] = "Devices Name";
} // namespace

QString DeviceConfig::keyFor(quint16 vid)
{
    return QStringLiteral("0x%1").arg(vid, 4, 16, QLatin1Char('0'));
}

QString DeviceConfig::getDeviceName(quint16 vid) const
{
    if (!QFile::exists(QString::fromLatin1(SettingsFile)))
        return QString();
    QSettings settings(QString::fromLatin1(SettingsFile), QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(DevicesGroup));
    return settings.value(keyFor(vid), QString()).toString();
}
