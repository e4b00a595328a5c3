#include "devicesession.h"

#include "firmwarerules.h"
#include "flashexit.h"
#include "imageplan.h"
#include "logging.h"
#include "upgradeclock.h"
#include "upgradeobserver.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <unistd.h>

namespace {
constexpr int PortSettleMs = 10;          // as the window lets a freshly opened port settle
constexpr unsigned ConnectTransmissions = 3;
constexpr int ConnectAckTimeoutMs = 2000; // program time
constexpr int IdentityWaitMs = 5000;      // real time: the identity follows the acknowledgement
constexpr int IdentityPollMs = 20;

std::shared_ptr<const UpgradeClock> clockFor(int factor)
{
    if (factor > 1)
        return std::make_shared<ScaledClock>(factor);
    return std::make_shared<SystemClock>();
}
} // namespace

DeviceSession::DeviceSession(const Setup &setup, Job job, const QString &file)
    : m_setup(setup)
    , m_job(job)
    , m_file(file)
    , m_clock(clockFor(setup.clockFactor))
    , m_link(new UsbVirtualSerial(setup.ports))
{
    m_link->dedicateTo({setup.port.portName, setup.port.vendorIdentifier});
    m_observer.reset(new UpgradeObserver(m_link.get(), [this](const QJsonObject &e) { emit event(e); }));
    m_worker.reset(new UpgradeProcess(m_link.get(), m_clock));
    m_observer->watch(m_worker.get());
    m_observer->setSource(source());
}

DeviceSession::~DeviceSession()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void DeviceSession::start()
{
    m_thread = QThread::create([this] { run(); });
    connect(m_thread, &QThread::finished, this, &DeviceSession::finished);
    m_thread->start();
}

FlashEvents::Source DeviceSession::source() const
{
    return {m_setup.port.portName, fixedFieldText(m_identity.serial)};
}

void DeviceSession::run()
{
    LOG_INFO << "tavio-flash: device at" << m_setup.port.portName;
    const bool connected = connectDevice(); // when not, it has told why
    if (connected && m_job == Job::Upgrade)
        upgrade();
    else if (connected)
        finish(FlashExit::Success, QStringLiteral("identified"));
    m_link->stopSerialRecv();
    m_link->closeSerialPort();
}

bool DeviceSession::connectDevice()
{
    emit event(FlashEvents::phase(source(), QStringLiteral("connect")));
    switch (m_link->openDevicePort(true)) {
    case UsbVirtualSerial::PortOpening::NoPort:
        finish(FlashExit::NoDevice, QStringLiteral("no device at %1").arg(m_setup.port.portName));
        return false;
    case UsbVirtualSerial::PortOpening::OpenFailed:
        finish(FlashExit::NoDevice, openFailureText());
        return false;
    case UsbVirtualSerial::PortOpening::Opened:
        break;
    }
    QThread::msleep(PortSettleMs);
    const qint32 ret = m_link->commandSerialSend(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                                                 0, nullptr, 0, ConnectTransmissions,
                                                 unsigned(m_clock->replyWaitMs(ConnectAckTimeoutMs)));
    if (ret < 0 || !waitForIdentity()) {
        finish(FlashExit::LinkFailed, QStringLiteral("the device does not answer"));
        return false;
    }
    m_observer->setSource(source());
    emit event(FlashEvents::identity(source(), m_identity, m_link->getReceiveMaxSize(),
                                     m_setup.port.vendorIdentifier));
    return true;
}

bool DeviceSession::waitForIdentity()
{
    QDeadlineTimer deadline(IdentityWaitMs);
    do {
        DeviceIdentityInfo info;
        m_link->getDeviceInfo(info.firmware.data(), info.serial.data(), info.hardware.data(),
                              &info.cpuTemp);
        if (info.cpuTemp != DeviceIdentityInfo::NoTemperature) {
            m_identity = info;
            return true;
        }
        QThread::msleep(IdentityPollMs);
    } while (!deadline.hasExpired());
    return false;
}

void DeviceSession::upgrade()
{
    const QString fileName = ImagePlan::fileNameOf(m_file);
    const FirmwareRules::FileJudgement judgement = FirmwareRules::judgeFile(m_identity.firmware.data(), fileName);
    const bool accepted = judgement.verdict == FirmwareRules::FileVerdict::Accepted;
    const bool package = FirmwareRules::isMultiImageLine(m_setup.port.vendorIdentifier,
                                                         m_identity.firmware.data());
    const QString text = accepted
            ? QStringLiteral("accepted")
            : QCoreApplication::translate("UpgradePage", FirmwareRules::refusalText(judgement.verdict));
    QJsonObject rules = FlashEvents::rules(source(), fileName, accepted, text);
    rules.insert(QStringLiteral("sequence"), package ? QStringLiteral("package") : QStringLiteral("single-image"));
    emit event(rules);
    if (!accepted) {
        finish(FlashExit::FileRefused, text);
        return;
    }
    m_worker->upgradeFile(m_file, package ? UpgradeKind::Package : UpgradeKind::SingleImage);
    finish(m_observer->exitCode(), m_observer->outcomeText());
}

void DeviceSession::finish(int exitCode, const QString &text)
{
    LOG_INFO << "tavio-flash:" << m_setup.port.portName << "exit" << exitCode << text;
    m_exitCode.store(exitCode);
    emit event(FlashEvents::result(source(), exitCode, text));
}

// Permission is the usual reason on a fresh machine, and it has a cure.
QString DeviceSession::openFailureText() const
{
    const QString name = m_setup.port.portName;
    const QString path = name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
    if (QFileInfo::exists(path) && ::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0
        && errno == EACCES) {
        return QStringLiteral("permission denied on %1: add your user to the group that owns it "
                              "(usually \"dialout\": sudo usermod -aG dialout $USER), then log in again")
            .arg(path);
    }
    return QStringLiteral("the port %1 cannot be opened").arg(name);
}
