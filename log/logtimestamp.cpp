#include "logtimestamp.h"

#include <QDateTime>

namespace {
constexpr qint64 MsecsPerSecond = 1000;
constexpr int MillisecondDigits = 3;
} // namespace

QString LogTimestamp::text(qint64 msecsSinceEpoch)
{
    // Floor division, so times before the epoch fall into the right second.
    qint64 second = msecsSinceEpoch / MsecsPerSecond;
    if (msecsSinceEpoch % MsecsPerSecond < 0)
        --second;
    const qint64 millisecond = msecsSinceEpoch - second * MsecsPerSecond;
    QString secondText;
    {
        QMutexLocker lock(&m_mutex);
        if (second != m_second) {
            m_secondText = QDateTime::fromMSecsSinceEpoch(second * MsecsPerSecond)
                                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."));
            m_second = second;
        }
        secondText = m_secondText;
    }
    return secondText + QStringLiteral("%1").arg(millisecond, MillisecondDigits, 10, QLatin1Char('0'));
}
