#ifndef INTERRUPTWATCHER_H
#define INTERRUPTWATCHER_H

#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT, and SIGTERM) into a Qt signal in the main thread, so
// what follows runs as ordinary code. On POSIX the handler writes to a
// self-pipe, the one safe thing it can do; on Windows the console's control
// handler, on a thread of its own, posts the signal. One watcher at a time.
// The signals after the ones it tells end the process at once, in the
// handler itself, as they would without the watcher: a program stuck in its
// cleanup can still be stopped.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    // Tells the first `toldSignals` signals through interrupted().
    explicit InterruptWatcher(int toldSignals, QObject *parent = nullptr);
    ~InterruptWatcher() override;

    bool isWatching() const { return m_watching; }

    // What the signal handler calls for a signal it tells (tests call it
    // too); safe inside one, and from any thread.
    static void deliver(int signalNumber);
    // Emits what has been delivered and not yet told; the event loop calls
    // it too, and whoever must see an interrupt before acting calls it first.
    void drain();

signals:
    // Once per delivered signal.
    void interrupted(int signalNumber);

private:
    bool m_watching = false;
#ifndef Q_OS_WIN
    std::unique_ptr<QSocketNotifier> m_notifier;
#endif
};

#endif // INTERRUPTWATCHER_H
