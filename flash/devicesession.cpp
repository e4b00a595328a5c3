#include "devicesession.h"

#include "firmwarerules.h"
#include "flashexit.h"
#include "identityquery.h"
#include "imageplan.h"
#include "ledger.h"
#include "logging.h"
#include "logsystem.h"
#include "upgradeclock.h"
#include "upgradeobserver.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"

#include <QCoreApplication>
#include <QThread>

namespace {
constexpr unsigned ConnectTransmissions = 3;

// The link's port thread logs too: its lines carry the same tag.
void tagThread(QThread *thread, const QString &tag)
{
    auto *context = new QObject;
    context->moveToThread(thread);
    QMetaObject::invokeMethod(context, [context, tag] {
        LogSystem::setThreadTag(tag);
        context->deleteLater();
    }, Qt::BlockingQueuedConnection);
}

} // namespace

std::shared_ptr<const UpgradeClock> DeviceSession::clockFor(int factor)
{
    if (factor > 1)
        return std::make_shared<ScaledClock>(factor);
    return std::make_shared<SystemClock>();
}

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
    m_worker->setChecksRestart(setup.verify);
    // Both come on the session's own thread, within the upgrade's sequence.
    connect(m_worker.get(), &UpgradeProcess::restartCheckStarted, this,
            [this] { emit event(FlashEvents::phase(source(), QStringLiteral("verify"))); }, Qt::DirectConnection);
    connect(m_worker.get(), &UpgradeProcess::restartChecked, this,
            [this](const RestartCheck::Result &result) { m_check = result; }, Qt::DirectConnection);
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

void DeviceSession::cancel()
{
    m_cancelled.store(true);
    m_worker->resetUpgradeParameters(1);
}

FlashEvents::Source DeviceSession::source() const
{
    return {m_setup.port.portName, fixedFieldText(m_identity.serial)};
}

void DeviceSession::run()
{
    m_started.start();
    LogSystem::setThreadTag(m_setup.port.portName);
    tagThread(m_link->portThread(), m_setup.port.portName);
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
    switch (IdentityQuery::ask(m_link.get(), *m_clock, ConnectTransmissions, &m_identity, &m_access)) {
    case IdentityQuery::Answer::NoPort:
        finish(FlashExit::NoDevice, QStringLiteral("no device at %1").arg(m_setup.port.portName));
        return false;
    case IdentityQuery::Answer::OpenFailed:
        finish(FlashExit::NoDevice, QStringLiteral("the port %1 cannot be opened").arg(m_setup.port.portName));
        return false;
    case IdentityQuery::Answer::Denied:
        finish(FlashExit::NoDevice, m_access.deniedText());
        return false;
    case IdentityQuery::Answer::Silent:
        finish(FlashExit::LinkFailed, QStringLiteral("the device does not answer"));
        return false;
    case IdentityQuery::Answer::Identified:
        break;
    }
    m_observer->setSource(source());
    emit event(FlashEvents::identity(source(), m_identity, m_link->getReceiveMaxSize(),
                                     m_setup.port.vendorIdentifier));
    return true;
}

void DeviceSession::upgrade()
{
    if (m_setup.claim && !m_setup.claim(fixedFieldText(m_identity.serial))) {
        m_leftAlone.store(true);
        emit event(FlashEvents::phase(source(), QStringLiteral("left-alone")));
        return;
    }
    const QString fileName = ImagePlan::fileNameOf(m_file);
    const FirmwareRules::FileJudgement judgement = FirmwareRules::judgeFile(m_identity.firmware.data(), m_file);
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
    m_worker->expectSequence(); // a cancel from now on ends the sequence, even before it starts
    if (m_cancelled.load()) {
        finish(FlashExit::LinkFailed, QStringLiteral("cancelled"));
        return;
    }
    m_worker->upgradeFile(m_file, package ? UpgradeKind::Package : UpgradeKind::SingleImage);
    if (m_worker->wasCancelled())
        finish(FlashExit::LinkFailed, QStringLiteral("cancelled"));
    else if (m_setup.verify && m_observer->exitCode() == FlashExit::Success)
        finishVerification();
    else
        finish(m_observer->exitCode(), m_observer->outcomeText());
}

// The restarted device must have reported the firmware the file's name announced.
void DeviceSession::finishVerification()
{
    if (m_check.outcome == RestartCheck::Outcome::Cancelled) {
        finish(FlashExit::LinkFailed, QStringLiteral("cancelled"));
        return;
    }
    const bool verified = m_check.outcome == RestartCheck::Outcome::Verified;
    QJsonObject details{{QStringLiteral("verified"), verified}};
    if (m_check.outcome != RestartCheck::Outcome::NoAnswer)
        details.insert(QStringLiteral("firmwareAfter"), RestartCheck::firmwareOf(m_check));
    finish(verified ? FlashExit::Success : FlashExit::VerifyFailed, RestartCheck::describe(m_check), details);
}

void DeviceSession::finish(int exitCode, const QString &text, const QJsonObject &details)
{
    LOG_INFO << "tavio-flash:" << m_setup.port.portName << "exit" << exitCode << text;
    m_exitCode.store(exitCode);
    QJsonObject result = FlashEvents::result(source(), exitCode, text);
    for (auto it = details.constBegin(); it != details.constEnd(); ++it)
        result.insert(it.key(), it.value());
    const QString fileMd5 = QString::fromLatin1(m_worker->upgradeFileMd5());
    if (!fileMd5.isEmpty()) // the file as pinned when its upgrade started: all that can have been sent
        result.insert(QStringLiteral("fileMd5"), fileMd5);
    if (m_job == Job::Upgrade && m_setup.ledger)
        record(exitCode, text, fileMd5,
               details.value(QStringLiteral("verified")).toBool()
                   ? details.value(QStringLiteral("firmwareAfter")).toString()
                   : QString());
    emit event(result);
}

void DeviceSession::record(int exitCode, const QString &text, const QString &fileMd5,
                           const QString &firmwareAfter)
{
    Ledger::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.port = m_setup.port.portName;
    entry.vid = m_setup.port.vendorIdentifier;
    entry.serial = fixedFieldText(m_identity.serial);
    entry.hardware = fixedFieldText(m_identity.hardware);
    entry.firmwareBefore = fixedFieldText(m_identity.firmware);
    entry.fileName = ImagePlan::fileNameOf(m_file);
    entry.fileMd5 = fileMd5;
    entry.firmwareAfter = firmwareAfter;
    entry.outcome = text;
    entry.exitCode = exitCode;
    entry.seconds = m_started.elapsed() / 1000.0;
    m_setup.ledger->append(entry);
}
