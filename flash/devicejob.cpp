#include "devicejob.h"

#include "devicesession.h"
#include "firmwarechoicetext.h"
#include "flashexit.h"
#include "ledger.h"
#include "logging.h"
#include "logsystem.h"
#include "upgradeclock.h"
#include "upgradeobserver.h"
#include "usbvirtualserial.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

namespace {
constexpr unsigned ConnectTransmissions = 3;
const QString UpToDateWords = QStringLiteral("up-to-date");
const QString DryRunWords = QStringLiteral("dry run: nothing sent");

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

std::shared_ptr<const UpgradeClock> DeviceJob::clockFor(int factor)
{
    if (factor > 1)
        return std::make_shared<ScaledClock>(factor);
    return std::make_shared<SystemClock>();
}

// How each way an upgrade can end leaves the command.
int DeviceJob::exitCodeOf(const UpgradeOutcome &outcome)
{
    using Kind = UpgradeOutcome::Kind;
    switch (outcome.kind) {
    case Kind::Succeeded:
        return !outcome.restartChecked() || outcome.verified() ? FlashExit::Success : FlashExit::VerifyFailed;
    case Kind::NotStarted:
        return FlashExit::FileRefused;
    case Kind::FileChanged:
    case Kind::DeviceRefused:
    case Kind::AbnormalEnd:
    case Kind::DeviceError:
        return FlashExit::DeviceRefused;
    case Kind::TransferFailed:
    case Kind::NoReboot:
    case Kind::NotBack:
    case Kind::StatusTimeout:
    case Kind::Disconnected:
    case Kind::TimedOut:
    case Kind::Cancelled:
        return FlashExit::LinkFailed;
    }
    return FlashExit::LinkFailed;
}

DeviceJob::DeviceJob(const Setup &setup, Job job, const QString &firmwarePath)
    : m_setup(setup)
    , m_job(job)
    , m_firmwarePath(firmwarePath)
    , m_link(new UsbVirtualSerial(setup.ports))
{
    m_link->dedicateTo({setup.port.portName, setup.port.vendorIdentifier});
    m_session.reset(new DeviceSession(m_link.get(), clockFor(setup.clockFactor)));
    m_observer.reset(new UpgradeObserver(m_link.get(), [this](const QJsonObject &e) { emit event(e); }));
    UpgradeProcess *worker = m_session->worker();
    worker->setChecksRestart(setup.verify);
    // It comes on the job's own thread, within the upgrade's sequence.
    connect(worker, &UpgradeProcess::restartCheckStarted, this,
            [this] { emit event(FlashEvents::phase(source(), QStringLiteral("verify"))); }, Qt::DirectConnection);
    m_observer->watch(worker);
    m_observer->setSource(source());
}

DeviceJob::~DeviceJob()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void DeviceJob::start()
{
    if (m_setup.timeLimitMs > 0)
        QTimer::singleShot(clockFor(m_setup.clockFactor)->realMs(m_setup.timeLimitMs), this, [this] {
            LOG_WARNING << "tavio-flash:" << m_setup.port.portName << "the time given to the device ran out";
            m_session->timeOut();
        });
    m_thread = QThread::create([this] { run(); });
    connect(m_thread, &QThread::finished, this, &DeviceJob::finished);
    m_thread->start();
}

void DeviceJob::cancel()
{
    m_session->cancel();
}

FlashEvents::Source DeviceJob::source() const
{
    return {m_setup.port.portName, fixedFieldText(m_identity.serial)};
}

QString DeviceJob::change() const
{
    if (!m_identified)
        return m_setup.port.portName;
    const QString file = m_choice.namesFile() ? m_choice.chosen.location.fileName() : m_firmwarePath;
    return QStringLiteral("%1 %2: %3 → %4")
        .arg(m_setup.port.portName, fixedFieldText(m_identity.serial), fixedFieldText(m_identity.firmware),
             FirmwareRules::announcedFirmware(file));
}

void DeviceJob::run()
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
    m_session->releasePort();
}

bool DeviceJob::connectDevice()
{
    emit event(FlashEvents::phase(source(), QStringLiteral("connect")));
    const DeviceSession::Connection connection = m_session->connectDevice(ConnectTransmissions);
    switch (connection.answer) {
    case IdentityQuery::Answer::NoPort:
        finish(FlashExit::NoDevice, QStringLiteral("no device at %1").arg(m_setup.port.portName));
        return false;
    case IdentityQuery::Answer::OpenFailed:
        finish(FlashExit::NoDevice, QStringLiteral("the port %1 cannot be opened").arg(m_setup.port.portName));
        return false;
    case IdentityQuery::Answer::Denied:
        finish(FlashExit::NoDevice, connection.access.deniedText());
        return false;
    case IdentityQuery::Answer::Silent:
    case IdentityQuery::Answer::Unidentified:
        finish(FlashExit::LinkFailed, QStringLiteral("the device does not answer"));
        return false;
    case IdentityQuery::Answer::Identified:
        break;
    }
    m_identity = connection.identity;
    m_identified = true;
    m_observer->setSource(source());
    emit event(FlashEvents::identity(source(), m_identity, m_link->getReceiveMaxSize(),
                                     m_setup.port.vendorIdentifier));
    return true;
}

void DeviceJob::upgrade()
{
    if (m_setup.claim && !m_setup.claim(fixedFieldText(m_identity.serial))) {
        m_leftAlone.store(true);
        emit event(FlashEvents::phase(source(), QStringLiteral("left-alone")));
        return;
    }
    if (!tellChoice())
        return;
    if (m_setup.confirm && !m_setup.confirm(QStringLiteral("Upgrade %1?").arg(change()))) {
        finishUpgrade(UpgradeOutcome::cancelled()); // by the user, before anything was sent
        return;
    }
    m_started.start(); // the upgrade's own time, not the answer's
    finishUpgrade(m_session->upgrade(m_choice.chosen.location, m_setup.port.vendorIdentifier));
}

// A device up to date is a success with nothing sent; a dry run ends here too.
bool DeviceJob::tellChoice()
{
    m_choice = m_session->choose(m_firmwarePath, m_setup.port.vendorIdentifier);
    const bool sends = m_choice.sends(m_setup.reflash);
    const bool upToDate = m_choice.verdict == FirmwareChoice::Verdict::UpToDate;
    QString text = sends ? FirmwareChoiceText::chosenNote(m_choice) : FirmwareChoiceText::refusal(m_choice);
    if (upToDate)
        text = FirmwareChoiceText::upToDateNote(m_choice);
    QJsonObject rules = FlashEvents::rules(source(), m_choice, sends, text);
    const bool package = m_session->sequenceFor(m_setup.port.vendorIdentifier) == UpgradeKind::Package;
    rules.insert(QStringLiteral("sequence"), package ? QStringLiteral("package") : QStringLiteral("single-image"));
    emit event(rules);
    m_upToDate.store(upToDate && !sends);
    if (upToDate && !sends)
        finish(FlashExit::Success, UpToDateWords, QJsonObject(), UpToDateWords);
    else if (!sends)
        finish(FlashExit::FileRefused, text);
    else if (m_setup.dryRun)
        finish(FlashExit::Success, DryRunWords, QJsonObject(), DryRunWords);
    return sends && !m_setup.dryRun;
}

// The restarted device, when checked, must have reported the firmware the file's name announced.
void DeviceJob::finishUpgrade(const UpgradeOutcome &outcome)
{
    QJsonObject details;
    if (outcome.succeeded() && outcome.restartChecked()) {
        details.insert(QStringLiteral("verified"), outcome.verified());
        if (outcome.check.outcome != RestartCheck::Outcome::NoAnswer)
            details.insert(QStringLiteral("firmwareAfter"), RestartCheck::firmwareOf(outcome.check));
    }
    finish(exitCodeOf(outcome), outcome.summary(), details, outcomeWords(outcome));
}

QString DeviceJob::outcomeWords(const UpgradeOutcome &outcome)
{
    if (outcome.succeeded() && !outcome.restartChecked())
        return QStringLiteral("upgraded");
    if (outcome.succeeded() || outcome.kind == UpgradeOutcome::Kind::Cancelled)
        return outcome.summary(); // the check's verdict, or "cancelled"
    return QStringLiteral("failed: ") + outcome.summary();
}

void DeviceJob::finish(int exitCode, const QString &text, const QJsonObject &details, const QString &words)
{
    LOG_INFO << "tavio-flash:" << m_setup.port.portName << "exit" << exitCode << text;
    m_exitCode.store(exitCode);
    const double seconds = m_started.elapsed() / 1000.0;
    QJsonObject result = FlashEvents::result(source(), exitCode, text);
    if (m_job == Job::Upgrade) {
        // Any end but the upgrade's own is a failure: no device, no answer, a refused file.
        const QString outcome = words.isEmpty() ? QStringLiteral("failed: ") + text : words;
        result.insert(QStringLiteral("summary"), change() + QLatin1String(m_identified ? ", " : ": ") + outcome
                                                     + QStringLiteral(", %1 s").arg(seconds, 0, 'f', 1));
    }
    for (auto it = details.constBegin(); it != details.constEnd(); ++it)
        result.insert(it.key(), it.value());
    const QString fileMd5 = QString::fromLatin1(m_session->worker()->upgradeFileMd5());
    if (!fileMd5.isEmpty()) // the file as pinned when its upgrade started: all that can have been sent
        result.insert(QStringLiteral("fileMd5"), fileMd5);
    if (m_job == Job::Upgrade && m_setup.ledger && !m_setup.dryRun) // a dry run changes nothing
        record(exitCode, text, fileMd5, seconds,
               details.value(QStringLiteral("verified")).toBool()
                   ? details.value(QStringLiteral("firmwareAfter")).toString()
                   : QString());
    emit event(result);
}

void DeviceJob::record(int exitCode, const QString &text, const QString &fileMd5, double seconds,
                       const QString &firmwareAfter)
{
    Ledger::Entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.port = m_setup.port.portName;
    entry.vid = m_setup.port.vendorIdentifier;
    entry.serial = fixedFieldText(m_identity.serial);
    entry.hardware = fixedFieldText(m_identity.hardware);
    entry.firmwareBefore = fixedFieldText(m_identity.firmware);
    entry.fileName = m_choice.namesFile() ? m_choice.chosen.shownPath : QString();
    entry.source = m_firmwarePath;
    entry.fileMd5 = fileMd5;
    entry.firmwareAfter = firmwareAfter;
    entry.outcome = text;
    entry.exitCode = exitCode;
    entry.seconds = seconds;
    m_setup.ledger->append(entry);
}
