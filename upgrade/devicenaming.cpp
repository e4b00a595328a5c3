#include "devicenaming.h"

#include "ARNetType.h"
#include "deviceconfig.h"

#include <QCoreApplication>

namespace DeviceNaming {

DeviceLine lineOf(int vid)
{
    switch (vid) {
    case 0:
        return DeviceLine::NoDevice;
    case AR_FPV_BOARD_TYPE_L_GND401_OLD:
    case AR_FPV_BOARD_TYPE_L_GND401_NEW:
    case AR_FPV_BOARD_TYPE_GT_GND:
    case AR_FPV_BOARD_TYPE_GND_EX1:
    case AR_FPV_BOARD_TYPE_GND_EX3:
    case AR_FPV_BOARD_TYPE_GND_EX5:
        return DeviceLine::Ground;
    case AR_FPV_BOARD_TYPE_L_SKY402:
    case AR_FPV_BOARD_TYPE_H_SKY482:
    case AR_FPV_BOARD_TYPE_GT_SKY:
    case AR_FPV_BOARD_TYPE_SKY_EX2:
    case AR_FPV_BOARD_TYPE_SKY_EX4:
    case AR_FPV_BOARD_TYPE_SKY_EX6:
        return DeviceLine::Sky;
    default:
        return DeviceLine::Other;
    }
}

const char *defaultNameText(int vid)
{
    switch (lineOf(vid)) {
    case DeviceLine::NoDevice:
        return QT_TRANSLATE_NOOP("UpgradePage", "NO Device");
    case DeviceLine::Ground:
        return QT_TRANSLATE_NOOP("UpgradePage", "Merlow Gnd");
    case DeviceLine::Sky:
        return QT_TRANSLATE_NOOP("UpgradePage", "Merlow Sky");
    case DeviceLine::Other:
        break;
    }
    return QT_TRANSLATE_NOOP("UpgradePage", "Merlow FPV");
}

QString defaultName(int vid)
{
    return QCoreApplication::translate("UpgradePage", defaultNameText(vid));
}

bool keepsDefaultName(int vid)
{
    return vid == AR_FPV_BOARD_TYPE_GND_EX5 || vid == AR_FPV_BOARD_TYPE_SKY_EX6;
}

QString shownName(int vid, const DeviceConfig &config)
{
    if (keepsDefaultName(vid))
        return defaultName(vid);
    const QString configured = config.getDeviceName(quint16(vid));
    return configured.isEmpty() ? defaultName(vid) : configured;
}

} // namespace DeviceNaming
