#ifndef DEVICESESSION_H
#define DEVICESESSION_H

#include "deviceidentitystore.h"
#include "flashevents.h"
#include "serialportlister.h"

#include <QJsonObject>
#include <QObject>
#include <atomic>
#include <memory>

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
    };

    DeviceSession(const Setup &setup, Job job, const QString &file = QString());
    ~DeviceSession() override;

    void start();
    int exitCode() const { return m_exitCode.load(); }
    QString portName() const { return m_setup.port.portName; }

signals:
    void event(const QJsonObject &event);
    void finished();

private:
    void run();
    bool connectDevice();
    bool waitForIdentity();
    void upgrade();
    void finish(int exitCode, const QString &text);
    QString openFailureText() const;
    FlashEvents::Source source() const;

    Setup m_setup;
    Job m_job;
    QString m_file;
    std::shared_ptr<const UpgradeClock> m_clock;
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<UpgradeObserver> m_observer;
    std::unique_ptr<UpgradeProcess> m_worker;
    DeviceIdentityInfo m_identity;
    QThread *m_thread = nullptr;
    std::atomic<int> m_exitCode{0};
};

#endif // DEVICESESSION_H
