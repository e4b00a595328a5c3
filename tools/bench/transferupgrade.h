#ifndef TRANSFERUPGRADE_H
#define TRANSFERUPGRADE_H

#include <QString>

class UsbVirtualSerial;

namespace Bench {

// Runs a whole single-image upgrade on this thread, on a fast clock; true
// when the device reported it done and nothing went wrong. The device's
// verdict on the file is its MD5 check against the announced one.
bool runUpgrade(UsbVirtualSerial &link, const QString &imagePath, quint16 vid);

} // namespace Bench

#endif // TRANSFERUPGRADE_H
