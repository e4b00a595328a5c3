#ifndef STATION_H
#define STATION_H

#include "devicejob.h"
#include "serialportlister.h"

#include <QEventLoop>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <functional>
#include <memory>

// Station mode (--watch): waits for devices and upgrades each newly
// attached one once. A port is new when it was absent at the last look and
// no upgrade runs on it (a device restarting during its own upgrade is not
// new); a device is upgraded once, by serial number (one that restarts after
// its upgrade is left alone). Devices attached at the start count as new.
// The ports looked at are the recognised ones, or the ports the user named:
// one port serves device after device.
class Station : public QObject
{
    Q_OBJECT

public:
    struct Counts
    {
        int upgraded = 0;
        int upToDate = 0; // had the chosen version already: nothing sent
        int failed = 0;
        int skipped = 0; // the rules refused the file for the device
        int dryRun = 0;  // told its file, nothing sent
    };
    // The ports to serve that are present now.
    using PortSource = std::function<QList<SerialPortDescription>()>;
    using Claim = std::function<bool(const QString &serial)>;
    // The upgrade of the device at a port, whose serial number it must claim.
    using SessionMaker = std::function<std::unique_ptr<DeviceJob>(const SerialPortDescription &port, Claim claim)>;

    // How often the ports are looked at, in program time.
    static constexpr int PortPollMs = 1000;
    // Interrupts the station acts on (see interrupt()); the next one ends the process.
    static constexpr int ToldInterrupts = 2;

    Station(PortSource ports, SessionMaker makeSession, int pollMs);
    ~Station() override;

    // Until interrupted and every upgrade has ended; the highest exit code of any device.
    int run();
    // The first stops taking devices and lets the running upgrades finish;
    // the second cancels them.
    void interrupt();
    Counts counts() const { return m_counts; }

signals:
    // Before each look at the ports: an interrupt delivered by then is seen first.
    void aboutToPoll();

private:
    void poll();
    void startSession(const SerialPortDescription &port);
    void sessionEnded(const QString &port);
    bool claim(const QString &serial);
    void quitWhenDone();

    PortSource m_ports;
    SessionMaker m_makeSession;
    QTimer m_poll;
    QEventLoop m_loop;
    QSet<QString> m_present; // ports seen at the last look
    std::map<QString, std::unique_ptr<DeviceJob>> m_running;
    QMutex m_claimsMutex;    // claims come from the sessions' threads
    QSet<QString> m_claimed;
    Counts m_counts;
    int m_interrupts = 0;
    int m_exitCode = 0;
};

#endif // STATION_H
