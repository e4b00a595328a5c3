#include "station.h"

#include "flashexit.h"
#include "logging.h"

Station::Station(PortSource ports, SessionMaker makeSession, int pollMs)
    : m_ports(std::move(ports))
    , m_makeSession(std::move(makeSession))
{
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &Station::poll);
}

Station::~Station() = default;

int Station::run()
{
    QTimer::singleShot(0, this, &Station::poll);
    m_poll.start();
    m_loop.exec();
    return m_exitCode;
}

void Station::interrupt()
{
    ++m_interrupts;
    if (m_interrupts == 1) {
        LOG_INFO << "tavio-flash: station interrupted, running upgrades finish";
        m_poll.stop();
    } else {
        LOG_INFO << "tavio-flash: station interrupted again, running upgrades are cancelled";
        for (const auto &running : m_running)
            running.second->cancel();
    }
    quitWhenDone();
}

void Station::poll()
{
    emit aboutToPoll();
    if (m_interrupts > 0)
        return;
    QSet<QString> present;
    for (const SerialPortDescription &port : m_ports()) {
        present.insert(port.portName);
        if (!m_present.contains(port.portName) && m_running.count(port.portName) == 0)
            startSession(port);
    }
    m_present = present;
}

void Station::startSession(const SerialPortDescription &port)
{
    std::unique_ptr<DeviceJob> session = m_makeSession(port, [this](const QString &serial) { return claim(serial); });
    connect(session.get(), &DeviceJob::finished, this,
            [this, name = port.portName] { sessionEnded(name); }, Qt::QueuedConnection);
    session->start();
    m_running[port.portName] = std::move(session);
}

void Station::sessionEnded(const QString &port)
{
    const auto found = m_running.find(port);
    if (found == m_running.end())
        return;
    const std::unique_ptr<DeviceJob> session = std::move(found->second);
    m_running.erase(found);
    if (!session->leftAlone()) {
        const int code = session->exitCode();
        m_exitCode = qMax(m_exitCode, code);
        if (code == FlashExit::Success && session->isDryRun())
            ++m_counts.dryRun;
        else if (code == FlashExit::Success && session->wasUpToDate())
            ++m_counts.upToDate;
        else if (code == FlashExit::Success)
            ++m_counts.upgraded;
        else if (code == FlashExit::FileRefused)
            ++m_counts.skipped;
        else
            ++m_counts.failed;
    }
    quitWhenDone();
}

bool Station::claim(const QString &serial)
{
    QMutexLocker lock(&m_claimsMutex);
    if (m_claimed.contains(serial))
        return false;
    m_claimed.insert(serial);
    return true;
}

void Station::quitWhenDone()
{
    if (m_interrupts > 0 && m_running.empty())
        m_loop.quit();
}
