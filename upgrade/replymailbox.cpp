#include "replymailbox.h"

#include "logging.h"

#include <QDeadlineTimer>

ReplyMailbox::ReplyMailbox(DeviceLink &link, std::shared_ptr<const UpgradeClock> clock)
    : m_link(link)
    , m_clock(std::move(clock))
{
    m_link.setReplies(this);
}

ReplyMailbox::~ReplyMailbox()
{
    m_link.releaseReplies(this);
}

// ---- the run flag and the waits ---------------------------------------------------

void ReplyMailbox::setRun(bool run)
{
    m_run.store(run);
    wake();
    if (!run)
        m_link.wakeRequestWaits(); // a request in flight ends now, not at its timeout
}

bool ReplyMailbox::waitFor(const std::function<bool()> &ready, int programMs)
{
    return waitUntil(ready, QDeadlineTimer(m_clock->realMs(programMs)));
}

bool ReplyMailbox::waitForAnswer(const std::function<bool()> &ready, int programMs)
{
    return waitUntil(ready, QDeadlineTimer(m_clock->replyWaitMs(programMs)));
}

bool ReplyMailbox::waitUntil(const std::function<bool()> &ready, QDeadlineTimer deadline)
{
    QMutexLocker lock(&m_wakeMutex);
    while (!ready()) {
        if (!m_run.load() || deadline.hasExpired())
            return false;
        m_wakeUp.wait(&m_wakeMutex, deadline);
    }
    return true;
}

void ReplyMailbox::pause(int programMs)
{
    waitFor([] { return false; }, programMs);
}

void ReplyMailbox::wake()
{
    QMutexLocker lock(&m_wakeMutex);
    m_wakeUp.wakeAll();
}

// ---- what a sequence reads --------------------------------------------------------

void ReplyMailbox::acceptStatus(bool accept)
{
    QMutexLocker lock(&m_statusMutex);
    m_acceptsStatus = accept;
    if (accept)
        m_failureReported = false;
}

void ReplyMailbox::startFile()
{
    {
        QMutexLocker lock(&m_statusMutex);
        m_status = ar_upgrade_status{};
    }
    m_rebootConfirmed.store(false);
    m_verdict.store(NoVerdict);
}

ar_upgrade_status ReplyMailbox::latestStatus() const
{
    QMutexLocker lock(&m_statusMutex);
    return m_status;
}

bool ReplyMailbox::failureReported(ar_upgrade_status *status) const
{
    QMutexLocker lock(&m_statusMutex);
    if (m_failureReported)
        *status = m_failure;
    return m_failureReported;
}

// ---- the link's replies -----------------------------------------------------------

void ReplyMailbox::statusReport(const ar_upgrade_status &status)
{
    {
        QMutexLocker lock(&m_statusMutex);
        if (!m_acceptsStatus) {
            LOG_INFO << "status report while no upgrade runs, ignored: status" << status.status << "percent"
                     << status.percent;
            return;
        }
        m_status = status;
        if (status.status < 0 && !m_failureReported) {
            m_failure = status;
            m_failureReported = true;
        }
    }
    LOG_INFO << "onsendUpgradeProcess upgradestatus->percent" << status.percent << "upgrade_status "
             << status.status;
    if (status.status < 0) {
        // The device has given up: nothing more is sent to it.
        m_link.stopSerialRecv();
        setRun(false);
    }
    wake();
}

void ReplyMailbox::segmentLength(int length)
{
    m_segLength.store(length);
    LOG_INFO << "length " << length << "m_segLength " << m_segLength.load();
}

void ReplyMailbox::rebootConfirmed()
{
    LOG_INFO << "onUpgreBoot ";
    m_rebootConfirmed.store(true);
    wake();
}

void ReplyMailbox::fileVerdict(int verdict)
{
    LOG_INFO << "onUpgreceiveDateInfo status:" << verdict;
    m_verdict.store(verdict);
    wake();
}
