#ifndef UPGRADEOBSERVER_H
#define UPGRADEOBSERVER_H

#include "ARNetType.h"
#include "flashevents.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMutex>
#include <QObject>
#include <atomic>
#include <functional>

class UpgradeProcess;
class UsbVirtualSerial;

// Follows one device's upgrade through its link's and its worker's signals:
// turns them into events (phase, progress, status) and judges the outcome
// when the sequence has returned. The signals arrive directly on the link's
// and the sequence's threads; what they leave is guarded.
class UpgradeObserver : public QObject
{
public:
    using EventSink = std::function<void(const QJsonObject &)>;

    // Connects to the link first: its status reports reach the observer
    // before they wake the worker, so no status event follows the result.
    UpgradeObserver(UsbVirtualSerial *link, EventSink sink);

    void watch(UpgradeProcess *worker);
    void setSource(const FlashEvents::Source &source);

    // After the sequence has returned.
    int exitCode() const;
    QString outcomeText() const;

private:
    void onStatus(const ar_upgrade_status &status);
    void onStep(int step);
    void onBytesSent(qint64 sent, qint64 total);
    void setFailure(const QString &text, bool nothingSent);
    FlashEvents::Source source() const;
    void send(const QJsonObject &event) const { m_sink(event); }

    EventSink m_sink;
    mutable QMutex m_mutex; // guards the texts and the source
    FlashEvents::Source m_source;
    QString m_failure;
    QString m_phase;
    bool m_nothingSent = false;
    std::atomic<bool> m_completed{false};     // the worker reported success
    std::atomic<bool> m_deviceRefused{false}; // a refusing verdict last, or a failure status
    std::atomic<bool> m_fileChanged{false};   // the file lost the bytes pinned at the start
    int m_lastPercent = -1;    // the sequence's thread only, as the timer
    QElapsedTimer m_fileTimer; // since the file, part or resend started
};

#endif // UPGRADEOBSERVER_H
