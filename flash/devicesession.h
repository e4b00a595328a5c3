#ifndef DEVICESESSION_H
#define DEVICESESSION_H

#include "deviceidentitystore.h"
#include "flashevents.h"
#include "restartcheck.h"
#include "serialportlister.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

class Ledger;
class QThread;
class UpgradeClock;
class UpgradeObserver;
class UpgradeProcess;
class UsbVirtualSerial;

// One device of a run: its own link (dedicated to its port), worker and
// thread, so a slow or failing device never holds up another. The job runs
// on the session's thread; events and the end are signalled from there.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    enum class Job { Identify, Upgrade };

    struct Setup
    {
        SerialPortDescription port; // the port, as listed, and its identity
        SharedPortLister ports;     // the ports the link sees
        int clockFactor = 1;        // above 1: a fast clock (tests)
        bool verify = false;        // upgrade: ask the restarted device for its firmware
        std::shared_ptr<Ledger> ledger; // upgrade: where the attempt is recorded, if anywhere
        // Station mode: false for a serial number already handled in this
        // run; the device is then left alone, with nothing recorded.
        std::function<bool(const QString &serial)> claim;
    };

    DeviceSession(const Setup &setup, Job job, const QString &file = QString());
    ~DeviceSession() override;

    // Real time for the program, or a fast clock for tests.
    static std::shared_ptr<const UpgradeClock> clockFor(int factor);

    void start();
    // Ends the upgrade under way through the worker's cancel path; from any thread.
    void cancel();
    int exitCode() const { return m_exitCode.load(); }
    // The device was left alone: its serial number had been handled already.
    bool leftAlone() const { return m_leftAlone.load(); }
    QString portName() const { return m_setup.port.portName; }

signals:
    void event(const QJsonObject &event);
    void finished();

private:
    void run();
    bool connectDevice();
    void upgrade();
    void finishVerification();
    void finish(int exitCode, const QString &text, const QJsonObject &details = QJsonObject());
    void record(int exitCode, const QString &text, const QString &fileMd5, const QString &firmwareAfter);
    FlashEvents::Source source() const;

    Setup m_setup;
    Job m_job;
    QString m_file;
    std::shared_ptr<const UpgradeClock> m_clock;
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<UpgradeObserver> m_observer;
    std::unique_ptr<UpgradeProcess> m_worker;
    DeviceIdentityInfo m_identity; // as the device was before the upgrade
    RestartCheck::Result m_check;  // of the restarted device, with --verify
    PortAccess m_access;           // of a port that did not open
    QElapsedTimer m_started;
    QThread *m_thread = nullptr;
    std::atomic<int> m_exitCode{0};
    std::atomic<bool> m_leftAlone{false};
    std::atomic<bool> m_cancelled{false};
};

#endif // DEVICESESSION_H
