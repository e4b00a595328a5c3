#ifndef IDENTITYQUERY_H
#define IDENTITYQUERY_H

#include "devicelink.h"

class UpgradeClock;

// Opens the device's port and asks the device who it is: how the command
// connects to a device, and how a device is checked after its restart.
namespace IdentityQuery {

// Silent: no acknowledgement; Unidentified: acknowledged without an identity.
enum class Answer { NoPort, OpenFailed, Denied, Silent, Unidentified, Identified };

// `transmissions` of the device query, each waiting for its answer; `access`,
// when given, tells of a port that did not open. The question is given up
// as soon as `proceed` goes false.
Answer ask(DeviceLink &link, const UpgradeClock &clock, unsigned transmissions, DeviceIdentityInfo *identity,
           PortAccess *access = nullptr, const DeviceLink::Proceed &proceed = DeviceLink::Proceed());

} // namespace IdentityQuery

#endif // IDENTITYQUERY_H
