#include "upgradeobserver.h"

#include "flashexit.h"
#include "statusevaluation.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"

#include <QCoreApplication>

namespace {
constexpr int FullBar = 100;
constexpr int RefusingVerdict = -1;

QString phaseOfStep(int step)
{
    switch (step) {
    case AR_COMMAND_GET_ACTIVE:
        return QStringLiteral("restart");
    case AR_CMD_REMOTE_UPGRADE:
        return QStringLiteral("announce");
    case AR_CMD_SENDFILE_START:
    case AR_CMD_SENDFILE_DATA:
        return QStringLiteral("transfer");
    case AR_CMD_SENDFILE_END:
        return QStringLiteral("verdict");
    case AR_CMD_UPGRADE_STATUS:
        return QStringLiteral("device-upgrade");
    default:
        return QString();
    }
}
} // namespace

UpgradeObserver::UpgradeObserver(UsbVirtualSerial *link, EventSink sink)
    : m_sink(std::move(sink))
{
    connect(link, &UsbVirtualSerial::sig_sendUpgradeProcess, this, &UpgradeObserver::onStatus,
            Qt::DirectConnection);
    connect(link, &UsbVirtualSerial::sig_receiveDateInfo, this, [this](int verdict) {
        m_deviceRefused.store(verdict == RefusingVerdict);
    }, Qt::DirectConnection);
}

void UpgradeObserver::watch(UpgradeProcess *worker)
{
    connect(worker, &UpgradeProcess::stepChanged, this, &UpgradeObserver::onStep, Qt::DirectConnection);
    connect(worker, &UpgradeProcess::fileBytesSent, this, &UpgradeObserver::onBytesSent,
            Qt::DirectConnection);
    connect(worker, &UpgradeProcess::upgradeSucceeded, this, [this] { m_completed.store(true); },
            Qt::DirectConnection);
    connect(worker, &UpgradeProcess::sigUpgradeProcessHint, this,
            [this](const QString &message, bool) { setFailure(message, false); }, Qt::DirectConnection);
    connect(worker, &UpgradeProcess::sigUpgradeNotStarted, this,
            [this](const QString &message) { setFailure(message, true); }, Qt::DirectConnection);
    connect(worker, &UpgradeProcess::fileChanged, this, [this] { m_fileChanged.store(true); },
            Qt::DirectConnection);
}

void UpgradeObserver::setSource(const FlashEvents::Source &source)
{
    QMutexLocker lock(&m_mutex);
    m_source = source;
}

FlashEvents::Source UpgradeObserver::source() const
{
    QMutexLocker lock(&m_mutex);
    return m_source;
}

void UpgradeObserver::onStatus(const ar_upgrade_status &status)
{
    if (status.status < 0 || status.percent == -1)
        m_deviceRefused.store(true);
    send(FlashEvents::status(source(), status.status, status.percent,
                             StatusEvaluation::describe(status.status, status.percent)));
}

void UpgradeObserver::onStep(int step)
{
    if (step == AR_CMD_SENDFILE_START) {
        // A file, part or resend starts: its rate counts from here.
        m_fileTimer.start();
        m_lastPercent = -1;
    }
    const QString phase = phaseOfStep(step);
    if (phase.isEmpty() || phase == m_phase)
        return;
    m_phase = phase;
    send(FlashEvents::phase(source(), phase));
}

// One event per percent of the file, and one when it is all sent: a large
// image makes thousands of segments. The rate is that of the whole file so
// far: the empty frame that ends a file of whole segments repeats the count.
void UpgradeObserver::onBytesSent(qint64 sent, qint64 total)
{
    const int percent = total > 0 ? int(sent * 100 / total) : FullBar;
    if (percent == m_lastPercent && sent != total)
        return;
    m_lastPercent = percent;
    const double seconds = qMax<qint64>(1, m_fileTimer.elapsed()) / 1000.0;
    send(FlashEvents::progress(source(), sent, total, double(sent) / seconds));
}

void UpgradeObserver::setFailure(const QString &text, bool nothingSent)
{
    QMutexLocker lock(&m_mutex);
    if (!m_failure.isEmpty())
        return; // the first reason is the one that ended the upgrade
    m_failure = text;
    m_nothingSent = nothingSent;
}

int UpgradeObserver::exitCode() const
{
    QMutexLocker lock(&m_mutex);
    if (m_nothingSent)
        return FlashExit::FileRefused;
    if (m_failure.isEmpty() && m_completed.load())
        return FlashExit::Success;
    // A file changed under the upgrade got no end of file: the device did not take it.
    return m_deviceRefused.load() || m_fileChanged.load() ? FlashExit::DeviceRefused : FlashExit::LinkFailed;
}

QString UpgradeObserver::outcomeText() const
{
    QMutexLocker lock(&m_mutex);
    if (!m_failure.isEmpty())
        return m_failure;
    if (m_completed.load())
        return QCoreApplication::translate("UpgradePage", "升级完成！");
    return QStringLiteral("the upgrade ended without the device reporting success");
}
