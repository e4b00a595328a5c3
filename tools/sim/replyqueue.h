#ifndef REPLYQUEUE_H
#define REPLYQUEUE_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

// Holds reply pieces until their time has come and releases them in the
// order they were queued, so a late reply never overtakes an earlier one.
class ReplyQueue : public QObject
{
    Q_OBJECT

public:
    explicit ReplyQueue(QObject *parent = nullptr);

    // The first piece is due `delayMs` from now, each further one `gapMs`
    // after the one before. Pieces due at once are released before returning.
    void schedule(const QList<QByteArray> &pieces, int delayMs, int gapMs);
    void clear();
    bool isEmpty() const { return m_entries.isEmpty(); }

signals:
    void due(const QByteArray &bytes);

private:
    struct Entry
    {
        qint64 dueMs;
        QByteArray bytes;
    };

    void release();

    QElapsedTimer m_clock;
    QTimer m_timer;
    QList<Entry> m_entries;
};

#endif // REPLYQUEUE_H
