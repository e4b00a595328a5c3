#ifndef DEVICENAMING_H
#define DEVICENAMING_H

#include <QString>

class DeviceConfig;

// The name a device is shown under, from its USB vendor identifier: the
// upgrade page's device line and the command's device list.
namespace DeviceNaming {

// The line a vendor identifier belongs to.
enum class DeviceLine { NoDevice, Ground, Sky, Other };

DeviceLine lineOf(int vid);
// The default name of the line, untranslated, in the upgrade page's
// catalogue context ("UpgradePage").
const char *defaultNameText(int vid);
// The default name, translated.
QString defaultName(int vid);
// These units keep their default name, whatever the settings file says.
bool keepsDefaultName(int vid);
// The name configured in the settings file, or else the default one.
QString shownName(int vid, const DeviceConfig &config);

} // namespace DeviceNaming

#endif // DEVICENAMING_H
