#ifndef UPGRADEOBSERVER_H
#define UPGRADEOBSERVER_H

#include "ARNetType.h"
#include "flashevents.h"
#include "upgradewait.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <functional>

class UpgradeProcess;
class UsbVirtualSerial;

// Follows one device's upgrade through its link's and its worker's signals
// and turns them into events (phase, progress, status, wait). How the upgrade
// ended is not judged here: that is the worker's outcome. The signals
// arrive directly on the link's and the sequence's threads.
class UpgradeObserver : public QObject
{
public:
    using EventSink = std::function<void(const QJsonObject &)>;

    // Connects to the link first: its status reports reach the observer
    // before they wake the worker, so no status event follows the result.
    UpgradeObserver(UsbVirtualSerial *link, EventSink sink);

    void watch(UpgradeProcess *worker);
    void setSource(const FlashEvents::Source &source);

private:
    void onStatus(const ar_upgrade_status &status);
    void onStep(int step);
    void onBytesSent(qint64 sent, qint64 total);
    void onWait(const UpgradeWait &wait);
    FlashEvents::Source source() const;
    void send(const QJsonObject &event) const { m_sink(event); }

    EventSink m_sink;
    mutable QMutex m_mutex; // guards the source
    FlashEvents::Source m_source;
    QString m_phase;           // the sequence's thread only, as the rest
    int m_lastPercent = -1;    // the sequence's thread only, as the timer
    QElapsedTimer m_fileTimer; // since the file, part or resend started
    QMutex m_waitMutex;        // a wait is told from its own thread
    UpgradeWait m_toldWait;    // the last wait an event was sent for
};

#endif // UPGRADEOBSERVER_H
