#include "identityquery.h"

#include "ARNetType.h"
#include "upgradeclock.h"
#include "usbvirtualserial.h"

#include <QThread>

namespace {
constexpr int PortSettleMs = 10;     // as the window lets a freshly opened port settle
constexpr int AnswerWaitMs = 2000;   // program time
} // namespace

IdentityQuery::Answer IdentityQuery::ask(UsbVirtualSerial *link, const UpgradeClock &clock,
                                         unsigned transmissions, DeviceIdentityInfo *identity,
                                         PortAccess *access)
{
    switch (link->openDevicePort(true, access)) {
    case UsbVirtualSerial::PortOpening::NoPort:
        return Answer::NoPort;
    case UsbVirtualSerial::PortOpening::OpenFailed:
        return Answer::OpenFailed;
    case UsbVirtualSerial::PortOpening::Denied:
        return Answer::Denied;
    case UsbVirtualSerial::PortOpening::Opened:
        break;
    }
    QThread::msleep(PortSettleMs);
    link->resetDeviceInfoPara(); // no identity of an earlier answer
    const qint32 ret = link->commandSerialSend(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                               nullptr, 0, transmissions,
                                               unsigned(clock.replyWaitMs(AnswerWaitMs)));
    if (ret < 0)
        return Answer::Silent;
    // The link stores the identity the answer carries before it counts the
    // answer as an acknowledgement: it is in place now, or was not sent.
    DeviceIdentityInfo info;
    link->getDeviceInfo(info.firmware.data(), info.serial.data(), info.hardware.data(), &info.cpuTemp);
    if (info.cpuTemp == DeviceIdentityInfo::NoTemperature)
        return Answer::Silent;
    *identity = info;
    return Answer::Identified;
}
