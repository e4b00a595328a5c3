#include "firmwaresearch.h"

#include "firmwarechooser.h"

#include <QtConcurrent>

FirmwareSearch::FirmwareSearch(QObject *parent)
    : QObject(parent)
{
    connect(&m_watcher, &QFutureWatcher<FirmwareChoice>::finished, this, [this] {
        if (!m_searching)
            return;
        m_searching = false;
        emit found(m_watcher.result());
    });
}

void FirmwareSearch::start(const QString &path, const QByteArray &firmware, int vendorId)
{
    m_searching = true;
    m_watcher.setFuture(QtConcurrent::run([path, firmware, vendorId] {
        return FirmwareChooser::choose(path, firmware.constData(), vendorId);
    }));
}

// A new future in the watcher's hands drops the old one's pending finish.
void FirmwareSearch::forget()
{
    m_searching = false;
    m_watcher.setFuture(QFuture<FirmwareChoice>());
}
