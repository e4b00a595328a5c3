#ifndef IDENTITYQUERY_H
#define IDENTITYQUERY_H

#include "deviceidentitystore.h"
#include "portaccess.h"

class UpgradeClock;
class UsbVirtualSerial;

// Opens the device's port and asks the device who it is: how the command
// connects to a device, and how a device is checked after its restart.
namespace IdentityQuery {

enum class Answer { NoPort, OpenFailed, Denied, Silent, Identified };

// `transmissions` of the device query, each waiting for its answer; `access`,
// when given, tells of a port that did not open.
Answer ask(UsbVirtualSerial *link, const UpgradeClock &clock, unsigned transmissions,
           DeviceIdentityInfo *identity, PortAccess *access = nullptr);

} // namespace IdentityQuery

#endif // IDENTITYQUERY_H
