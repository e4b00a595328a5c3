#include "replyqueue.h"

ReplyQueue::ReplyQueue(QObject *parent)
    : QObject(parent)
    , m_timer(this)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &ReplyQueue::release);
}

void ReplyQueue::schedule(const QList<QByteArray> &pieces, int delayMs, int gapMs)
{
    qint64 dueMs = m_clock.elapsed() + qMax(0, delayMs);
    for (const QByteArray &piece : pieces) {
        if (!m_entries.isEmpty())
            dueMs = qMax(dueMs, m_entries.last().dueMs);
        m_entries.append({dueMs, piece});
        dueMs += qMax(0, gapMs);
    }
    release();
}

void ReplyQueue::clear()
{
    m_timer.stop();
    m_entries.clear();
}

void ReplyQueue::release()
{
    while (!m_entries.isEmpty() && m_entries.first().dueMs <= m_clock.elapsed())
        emit due(m_entries.takeFirst().bytes);
    if (m_entries.isEmpty())
        m_timer.stop();
    else
        m_timer.start(int(qMax<qint64>(0, m_entries.first().dueMs - m_clock.elapsed())));
}
