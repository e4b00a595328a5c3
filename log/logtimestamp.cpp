#include "logtimestamp.h"

#include <QDateTime>

namespace {
constexpr qint64 MsecsPerSecond = 1000;
constexpr int MillisecondDigits = 3;
constexpr int Decimal = 10;
} // namespace

QString LogTimestamp::text(qint64 msecsSinceEpoch)
{
    QString out;
    appendTo(out, msecsSinceEpoch);
    return out;
}

void LogTimestamp::appendTo(QString &out, qint64 msecsSinceEpoch)
{
    // Floor division, so times before the epoch fall into the right second.
    qint64 second = msecsSinceEpoch / MsecsPerSecond;
    if (msecsSinceEpoch % MsecsPerSecond < 0)
        --second;
    int millisecond = int(msecsSinceEpoch - second * MsecsPerSecond);
    {
        QMutexLocker lock(&m_mutex);
        if (second != m_second) {
            m_secondText = QDateTime::fromMSecsSinceEpoch(second * MsecsPerSecond)
                                   .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."));
            m_second = second;
        }
        out += m_secondText;
    }
    QChar digits[MillisecondDigits];
    for (int i = MillisecondDigits - 1; i >= 0; --i, millisecond /= Decimal)
        digits[i] = QLatin1Char(char('0' + millisecond % Decimal));
    out.append(digits, MillisecondDigits);
}
