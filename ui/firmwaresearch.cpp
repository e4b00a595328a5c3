#include "firmwaresearch.h"

#include "firmwarechooser.h"

#include <QtConcurrent>

FirmwareSearch::FirmwareSearch(QObject *parent)
    : QObject(parent)
{
    // A finish posted for a future since replaced may still arrive: only the
    // search under way, once done, is told (result() would wait for it).
    connect(&m_watcher, &QFutureWatcher<FirmwareChoice>::finished, this, [this] {
        if (!isSearching() || !m_watcher.future().isFinished())
            return;
        m_stop.reset();
        emit found(m_watcher.result());
    });
}

FirmwareSearch::~FirmwareSearch()
{
    forget();
}

void FirmwareSearch::start(const QString &path, const QByteArray &firmware, int vendorId)
{
    forget();
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_watcher.setFuture(QtConcurrent::run([path, firmware, vendorId, stop = m_stop] {
        return FirmwareChooser::choose(path, firmware.constData(), vendorId, [&stop] { return !stop->load(); });
    }));
}

void FirmwareSearch::forget()
{
    if (m_stop)
        m_stop->store(true);
    m_stop.reset();
    m_watcher.setFuture(QFuture<FirmwareChoice>());
}
