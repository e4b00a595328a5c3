#include "upgradeobserver.h"

#include "statusevaluation.h"
#include "upgradeprocess.h"
#include "usbvirtualserial.h"


namespace {
constexpr int FullBar = 100;
constexpr qint64 WaitEventEverySeconds = 5; // a wait is told each second: events come less often

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
}

void UpgradeObserver::watch(UpgradeProcess *worker)
{
    connect(worker, &UpgradeProcess::stepChanged, this, &UpgradeObserver::onStep, Qt::DirectConnection);
    connect(worker, &UpgradeProcess::fileBytesSent, this, &UpgradeObserver::onBytesSent,
            Qt::DirectConnection);
    connect(worker, &UpgradeProcess::sigUpgradeWaiting, this, &UpgradeObserver::onWait, Qt::DirectConnection);
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

// An event when a wait starts and then every few seconds.
void UpgradeObserver::onWait(const UpgradeWait &wait)
{
    QMutexLocker lock(&m_waitMutex);
    const bool news = wait.phase != m_toldWait.phase
        || wait.seconds / WaitEventEverySeconds != m_toldWait.seconds / WaitEventEverySeconds;
    if (!news)
        return;
    m_toldWait = wait;
    if (!wait.isOver())
        send(FlashEvents::wait(source(), wait.name(), wait.seconds, wait.limitSeconds));
}
