#include "transferupgrade.h"

#include "benchsupport.h"
#include "upgradeclock.h"
#include "upgradeprocess.h"

namespace Bench {

namespace {
// Fast enough that the reboot pauses are short, slow enough that an
// acknowledgement delayed by a busy machine does not time out (2 s become 200 ms).
constexpr int FastClockFactor = 10;
} // namespace

bool runUpgrade(UsbVirtualSerial &link, const QString &imagePath, quint16 vid)
{
    UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastClockFactor));
    std::atomic<bool> succeeded{false};
    std::atomic<bool> hinted{false};
    QObject::connect(&worker, &UpgradeProcess::upgradeSucceeded, &worker, [&] { succeeded = true; },
                     Qt::DirectConnection);
    QObject::connect(&worker, &UpgradeProcess::sigUpgradeProcessHint, &worker,
                     [&] { hinted = true; }, Qt::DirectConnection);
    if (!askIdentity(link))
        return false;
    worker.setBinFilePath(imagePath);
    m_upgrade_device_vid.store(vid);
    worker.upgradeProcess();
    return succeeded.load() && !hinted.load();
}

} // namespace Bench
