#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal in the main thread, through a
// self-pipe, so shutdown runs as ordinary code (and removes the link).
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isWatching() const { return m_notifier != nullptr; }

signals:
    void stopRequested(int signalNumber);

private:
    void drain();

    std::unique_ptr<QSocketNotifier> m_notifier;
};

#endif // SIGNALWATCHER_H
