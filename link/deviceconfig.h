#ifndef DEVICECONFIG_H
#define DEVICECONFIG_H

#include <QString>

// Device names configured per USB vendor identifier in "setting.ini",
// group "Devices Name", keys "0x" and four lower-case hex digits.
class DeviceConfig
{
public:
    QString getDeviceName(quint16 vid) const;
    static QString keyFor(quint16 vid);
};

#endif // DEVICECONFIG_H
