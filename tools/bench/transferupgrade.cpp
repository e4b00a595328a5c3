#include "transferupgrade.h"

#include "benchsupport.h"
#include "upgradeclock.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"

namespace Bench {

namespace {
// Fast enough that the reboot pauses are short, slow enough that an
// acknowledgement delayed by a busy machine does not time out (2 s become 200 ms).
constexpr int FastClockFactor = 10;
} // namespace

bool runUpgrade(UsbVirtualSerial &link, const QString &imagePath, quint16 vid)
{
    UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastClockFactor));
    if (!askIdentity(link))
        return false;
    link.setUpgradeTarget(vid);
    return worker.upgradeFile(imagePath, UpgradeKind::SingleImage).succeeded();
}

} // namespace Bench
