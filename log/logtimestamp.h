#ifndef LOGTIMESTAMP_H
#define LOGTIMESTAMP_H

#include <QMutex>
#include <QString>
#include <limits>

// The local date and time, to the millisecond, that starts every log line
// ("yyyy-MM-dd hh:mm:ss.zzz"). A conversion to local time is costly and a
// busy transfer logs thousands of lines a second, so the date and time of the
// current second are formatted once and only the milliseconds per line; a
// clock changes its zone offset only on whole seconds, so nothing is lost.
// Safe to use from any thread.
class LogTimestamp
{
public:
    QString text(qint64 msecsSinceEpoch);
    // The same text, appended to `out`.
    void appendTo(QString &out, qint64 msecsSinceEpoch);

private:
    QMutex m_mutex; // guards the cache below
    qint64 m_second = std::numeric_limits<qint64>::min();
    QString m_secondText; // "yyyy-MM-dd hh:mm:ss." of m_second
};

#endif // LOGTIMESTAMP_H
