#ifndef FIRMWARESEARCH_H
#define FIRMWARESEARCH_H

#include "firmwarechoice.h"

#include <QFutureWatcher>
#include <QObject>
#include <atomic>
#include <memory>

// Looks through a folder or zip archive for a device's firmware on a pool
// thread: a large folder takes seconds, and the window goes on drawing and
// telling what it waits for meanwhile. One search at a time; one forgotten
// or left by its owner stops early, so it never holds up the program's exit.
class FirmwareSearch : public QObject
{
    Q_OBJECT

public:
    explicit FirmwareSearch(QObject *parent = nullptr);
    ~FirmwareSearch() override;

    // `firmware` and `vendorId` are the device's, as read when it connected.
    void start(const QString &path, const QByteArray &firmware, int vendorId);
    // The search under way is dropped: its choice is never told.
    void forget();
    bool isSearching() const { return m_stop != nullptr; }

signals:
    void found(const FirmwareChoice &choice);

private:
    QFutureWatcher<FirmwareChoice> m_watcher;
    std::shared_ptr<std::atomic<bool>> m_stop; // the search under way's, shared with it; none: no search
};

#endif // FIRMWARESEARCH_H
