#ifndef DEVICESESSION_H
#define DEVICESESSION_H

#include "deviceidentitystore.h"
#include "firmwarechoice.h"
#include "firmwarerules.h"
#include "identityquery.h"
#include "upgradeclock.h"
#include "upgradeoutcome.h"
#include "upgradeprocess.h"

#include <QFutureWatcher>
#include <QMetaType>
#include <QObject>
#include <QtGlobal>
#include <atomic>
#include <memory>

// One device as the window and the command work with it: connect (open its
// port, let it settle, ask who it is), judge a file against it, pick the
// sequence, run the upgrade on the worker and hand on its outcome. The
// blocking calls run on the caller's thread (the command's device thread);
// the window uses their asynchronous forms, which run on the pool and
// answer by signal, so it never waits on the port.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    struct Connection
    {
        IdentityQuery::Answer answer = IdentityQuery::Answer::NoPort;
        DeviceIdentityInfo identity;
        PortAccess access; // of a port that did not open
        quint64 question = 0; // connectAsync()'s: an answer to an earlier one is stale
    };

    // `link` must outlive the session.
    DeviceSession(DeviceLink *link, std::shared_ptr<const UpgradeClock> clock, QObject *parent = nullptr);
    ~DeviceSession() override;

    UpgradeProcess *worker() { return &m_worker; }
    const UpgradeClock &clock() const { return *m_clock; }

    // Opens the device's port and asks it who it is, with `transmissions`
    // of the question. The identity is kept when it answers.
    Connection connectDevice(unsigned transmissions);
    // The identity of the last answer, or of the restarted device when its
    // check heard from it: files are judged against it.
    DeviceIdentityInfo identity() const;

    // The naming, type and version rules applied to the file for this device.
    FirmwareRules::FileJudgement judge(const QString &path) const;
    // The image this device gets from `path`: a file alone, judged by the
    // rules, or the file chosen for it from a folder or zip archive.
    FirmwareChoice choose(const QString &path, int vendorId) const;
    // A multi-image package for the multi-image line, a single image otherwise.
    UpgradeKind sequenceFor(int vendorId) const;
    // Upgrades the device with the file at `path` (judged); `vendorId` finds
    // its port again after its reboot. A cancel from any time before ends it.
    UpgradeOutcome upgrade(const ImageLocation &image, int vendorId);

    // connectDevice() and upgrade() on the pool: connected() and the
    // worker's finished() tell how they went, idle() when the task is over.
    // Returns the question's number, which its answer carries.
    quint64 connectAsync(unsigned transmissions);
    void launch(const ImageLocation &image, int vendorId);
    bool isBusy() const { return m_task.isRunning(); }

    // Ends a connection under way and any upgrade, from any thread; a
    // blocking upgrade() asked for later is cancelled too.
    void cancel();
    // cancel() because the time given to the device ran out: the upgrade's
    // outcome says so.
    void timeOut();
    // cancel(), then lets the port go and forgets the device.
    void disconnectDevice();
    // Stops reception and closes the port.
    void releasePort();

signals:
    void connected(const DeviceSession::Connection &connection);
    void idle();

private:
    void keepIdentity(const DeviceIdentityInfo &identity);
    UpgradeKind prepareUpgrade(const ImageLocation &image, int vendorId);
    UpgradeOutcome runUpgrade(const ImageLocation &image, UpgradeKind kind);

    DeviceLink &m_link;
    std::shared_ptr<const UpgradeClock> m_clock;
    UpgradeProcess m_worker;
    mutable QMutex m_identityMutex;
    DeviceIdentityInfo m_identity;
    std::atomic<bool> m_connecting{false}; // a question in flight goes on while it holds
    std::atomic<bool> m_cancelled{false};  // since the last connection or launch
    std::atomic<bool> m_timedOut{false};   // the cancel was the time limit's
    quint64 m_questions = 0;               // asked by connectAsync()
    QFutureWatcher<void> m_task;
};

Q_DECLARE_METATYPE(DeviceSession::Connection)

#endif // DEVICESESSION_H
