#include "devicesession.h"

#include "firmwarechooser.h"
#include "logging.h"

#include <QtConcurrent>

DeviceSession::DeviceSession(DeviceLink *link, std::shared_ptr<const UpgradeClock> clock, QObject *parent)
    : QObject(parent)
    , m_link(*link)
    , m_clock(clock)
    , m_worker(link, std::move(clock))
{
    qRegisterMetaType<DeviceSession::Connection>();
    connect(&m_task, &QFutureWatcher<void>::finished, this, &DeviceSession::idle);
}

DeviceSession::~DeviceSession()
{
    // The pool task uses the worker and the link: it must be over first.
    if (m_task.isRunning()) {
        cancel();
        m_task.waitForFinished();
    }
}

DeviceSession::Connection DeviceSession::connectDevice(unsigned transmissions)
{
    m_connecting.store(true);
    Connection connection;
    connection.answer = IdentityQuery::ask(m_link, *m_clock, transmissions, &connection.identity,
                                           &connection.access, [this] { return m_connecting.load(); });
    if (!m_connecting.exchange(false) && connection.answer == IdentityQuery::Answer::Identified)
        connection.answer = IdentityQuery::Answer::Silent; // the user let go meanwhile
    if (connection.answer == IdentityQuery::Answer::Identified)
        keepIdentity(connection.identity);
    LOG_INFO << "device query:" << int(connection.answer) << "chip_temperature" << connection.identity.cpuTemp;
    return connection;
}

DeviceIdentityInfo DeviceSession::identity() const
{
    QMutexLocker lock(&m_identityMutex);
    return m_identity;
}

void DeviceSession::keepIdentity(const DeviceIdentityInfo &identity)
{
    QMutexLocker lock(&m_identityMutex);
    m_identity = identity;
}

FirmwareRules::FileJudgement DeviceSession::judge(const QString &path) const
{
    return FirmwareRules::judgeFile(identity().firmware.data(), path);
}

FirmwareChoice DeviceSession::choose(const QString &path, int vendorId) const
{
    return FirmwareChooser::choose(path, identity().firmware.data(), vendorId);
}

UpgradeKind DeviceSession::sequenceFor(int vendorId) const
{
    return FirmwareRules::isMultiImageLine(vendorId, identity().firmware.data()) ? UpgradeKind::Package
                                                                                 : UpgradeKind::SingleImage;
}

UpgradeKind DeviceSession::prepareUpgrade(const ImageLocation &image, int vendorId)
{
    const UpgradeKind kind = sequenceFor(vendorId);
    LOG_INFO << "upgrade of" << image.path << image.entry << "for vendor identifier" << vendorId
             << (kind == UpgradeKind::Package ? "as a multi-image package" : "as a single image");
    m_link.setUpgradeTarget(vendorId);
    m_worker.expectSequence(); // a cancel from now on ends the sequence, even before it starts
    return kind;
}

UpgradeOutcome DeviceSession::upgrade(const ImageLocation &image, int vendorId)
{
    const UpgradeKind kind = prepareUpgrade(image, vendorId);
    if (m_cancelled.load()) // before it could start
        return m_timedOut.load() ? UpgradeOutcome::timedOut() : UpgradeOutcome::cancelled();
    return runUpgrade(image, kind);
}

UpgradeOutcome DeviceSession::runUpgrade(const ImageLocation &image, UpgradeKind kind)
{
    const UpgradeOutcome outcome = m_worker.upgradeFile(image, kind);
    if (outcome.restartChecked() && outcome.check.outcome != RestartCheck::Outcome::NoAnswer)
        keepIdentity(outcome.check.identity); // the next file is judged against what the device runs now
    return outcome;
}

quint64 DeviceSession::connectAsync(unsigned transmissions)
{
    Q_ASSERT(!isBusy());
    m_cancelled.store(false);
    m_timedOut.store(false);
    m_connecting.store(true); // a cancel before the task starts is not lost
    const quint64 question = ++m_questions;
    m_task.setFuture(QtConcurrent::run([this, transmissions, question] {
        Connection connection;
        if (m_connecting.load())
            connection = connectDevice(transmissions);
        connection.question = question;
        emit connected(connection);
    }));
    return question;
}

void DeviceSession::launch(const ImageLocation &image, int vendorId)
{
    Q_ASSERT(!isBusy());
    m_cancelled.store(false); // the user starts anew
    m_timedOut.store(false);
    const UpgradeKind kind = prepareUpgrade(image, vendorId);
    m_task.setFuture(QtConcurrent::run([this, image, kind] { runUpgrade(image, kind); }));
}

void DeviceSession::cancel()
{
    m_cancelled.store(true);
    m_connecting.store(false);
    m_link.wakeRequestWaits();
    m_worker.resetUpgradeParameters(1);
}

void DeviceSession::timeOut()
{
    LOG_WARNING << "the upgrade ran out of the time it was given";
    m_timedOut.store(true);
    m_worker.timeOut(); // first: the sequence ends as timed out, not as cancelled
    cancel();
}

void DeviceSession::disconnectDevice()
{
    // The upgrade stops first: not one more frame goes out while the port is let go.
    cancel();
    releasePort();
    m_link.resetDeviceInfoPara();
    m_link.set_usb_vid(0);
    m_link.setUpgradeTarget(0);
}

void DeviceSession::releasePort()
{
    m_link.stopSerialRecv();
    if (m_link.SerialPortIsOpen())
        m_link.closeSerialPort();
}
