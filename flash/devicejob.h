#ifndef DEVICEJOB_H
#define DEVICEJOB_H

#include "deviceidentitystore.h"
#include "firmwarechoice.h"
#include "flashevents.h"
#include "serialportlister.h"
#include "upgradeoutcome.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

class DeviceSession;
class Ledger;
class QThread;
class UpgradeClock;
class UpgradeObserver;
class UsbVirtualSerial;

// One device of a run: its own link (dedicated to its port), device session
// and thread, so a slow or failing device never holds up another. The job
// runs on the job's thread; events and the end are signalled from there.
class DeviceJob : public QObject
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
        int timeLimitMs = 0;        // upgrade: the device's time from its connection on (0: none)
        bool dryRun = false;        // upgrade: choose the device's file and tell it, send nothing
        bool reflash = false;       // upgrade: a device up to date gets its own version again
        std::shared_ptr<Ledger> ledger; // upgrade: where the attempt is recorded, if anywhere
        // Station mode: false for a serial number already handled in this
        // run; the device is then left alone, with nothing recorded.
        std::function<bool(const QString &serial)> claim;
        // Upgrade: asked, from the job's thread, once the file is accepted for
        // the device; false leaves the device as it is. Unset: not asked.
        std::function<bool(const QString &question)> confirm;
    };

    // `firmwarePath`: the image, or the folder or zip archive the device's is chosen from.
    DeviceJob(const Setup &setup, Job job, const QString &firmwarePath = QString());
    ~DeviceJob() override;

    // Real time for the program, or a fast clock for tests.
    static std::shared_ptr<const UpgradeClock> clockFor(int factor);
    // The command's exit code for an upgrade that came to `outcome`.
    static int exitCodeOf(const UpgradeOutcome &outcome);
    // The outcome in a device's summary line: "upgraded", "verified", "not
    // verified: why", "failed: why" or "cancelled".
    static QString outcomeWords(const UpgradeOutcome &outcome);

    void start();
    // Ends the upgrade under way through the worker's cancel path; from any thread.
    void cancel();
    int exitCode() const { return m_exitCode.load(); }
    // The device was left alone: its serial number had been handled already.
    bool leftAlone() const { return m_leftAlone.load(); }
    // The device had the chosen version already and was sent nothing.
    bool wasUpToDate() const { return m_upToDate.load(); }
    bool isDryRun() const { return m_setup.dryRun; }
    QString portName() const { return m_setup.port.portName; }

signals:
    void event(const QJsonObject &event);
    void finished();

private:
    void run();
    bool connectDevice();
    void upgrade();
    // The rules' event for the choice made for the device; false when nothing is to be sent.
    bool tellChoice();
    void finishUpgrade(const UpgradeOutcome &outcome);
    // An upgrade's result carries the device's summary line: its change, `words`
    // (the outcome; none: "failed: " and the text) and the seconds it took.
    void finish(int exitCode, const QString &text, const QJsonObject &details = QJsonObject(),
                const QString &words = QString());
    void record(int exitCode, const QString &text, const QString &fileMd5, double seconds,
                const QString &firmwareAfter);
    FlashEvents::Source source() const;
    // "PORT SERIAL: FIRMWARE → ANNOUNCED FIRMWARE" once identified, the port before.
    QString change() const;

    Setup m_setup;
    Job m_job;
    QString m_firmwarePath;
    FirmwareChoice m_choice; // the job's thread only, once the device is identified
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<DeviceSession> m_session;
    std::unique_ptr<UpgradeObserver> m_observer;
    DeviceIdentityInfo m_identity; // as the device was before the upgrade
    bool m_identified = false;     // the job's thread only, as the identity
    QElapsedTimer m_started; // since the job, then since the upgrade started
    QThread *m_thread = nullptr;
    std::atomic<int> m_exitCode{0};
    std::atomic<bool> m_leftAlone{false};
    std::atomic<bool> m_upToDate{false};
};

#endif // DEVICEJOB_H
