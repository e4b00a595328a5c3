#include "identityquery.h"

#include "ARNetType.h"
#include "upgradeclock.h"

namespace {
constexpr int PortSettleMs = 10;     // a freshly opened port settles before it is asked
constexpr int AnswerWaitMs = 2000;   // program time
} // namespace

IdentityQuery::Answer IdentityQuery::ask(DeviceLink &link, const UpgradeClock &clock, unsigned transmissions,
                                         DeviceIdentityInfo *identity, PortAccess *access,
                                         const DeviceLink::Proceed &proceed)
{
    switch (link.openDevicePort(true, access)) {
    case DeviceLink::PortOpening::NoPort:
        return Answer::NoPort;
    case DeviceLink::PortOpening::OpenFailed:
        return Answer::OpenFailed;
    case DeviceLink::PortOpening::Denied:
        return Answer::Denied;
    case DeviceLink::PortOpening::Opened:
        break;
    }
    clock.sleep(PortSettleMs);
    link.resetDeviceInfoPara(); // no identity of an earlier answer
    const qint32 ret = link.request(AR_COMMAND_FIND_DEVICE, QByteArray(), transmissions,
                                    unsigned(clock.replyWaitMs(AnswerWaitMs)), proceed);
    if (ret < 0)
        return Answer::Silent;
    // The link stores the identity the answer carries before it counts the
    // answer as an acknowledgement: it is in place now, or was not sent.
    const DeviceIdentityInfo info = link.deviceIdentity();
    if (info.cpuTemp == DeviceIdentityInfo::NoTemperature)
        return Answer::Unidentified;
    *identity = info;
    return Answer::Identified;
}
