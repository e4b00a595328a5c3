#ifndef LOGGING_H
#define LOGGING_H

#include <QDebug>
#include <QLoggingCategory>

// Whether lines of `type` are logged: a level turned off (QLoggingCategory's
// filter rules on the default category, as the fuzzing harnesses do) is not
// even formatted.
inline bool tavioLogEnabled(QtMsgType type)
{
    const QLoggingCategory *category = QLoggingCategory::defaultCategory();
    return !category || category->isEnabled(type);
}

// Runs the statement that follows only when lines of `type` are logged.
#define TAVIO_LOG_IF_ENABLED(type)                                                             \
    for (bool tavioLogOn = tavioLogEnabled(type); tavioLogOn; tavioLogOn = false)

// The log-call prefix: "[func:", the calling function, ", line:", the line,
// "] ", followed by the message's own items in a debug stream of the level.
// One helper per level, so every call site captures its own function and line.
#define TAVIO_LOG_PREFIXED(stream) stream << "[func:" << __func__ << ", line:" << __LINE__ << "] "

#define LOG_DEBUG TAVIO_LOG_IF_ENABLED(QtDebugMsg) TAVIO_LOG_PREFIXED(qDebug())
#define LOG_INFO TAVIO_LOG_IF_ENABLED(QtInfoMsg) TAVIO_LOG_PREFIXED(qInfo())
#define LOG_WARNING TAVIO_LOG_IF_ENABLED(QtWarningMsg) TAVIO_LOG_PREFIXED(qWarning())
#define LOG_CRITICAL TAVIO_LOG_IF_ENABLED(QtCriticalMsg) TAVIO_LOG_PREFIXED(qCritical())

// The same prefix with `text` (a string literal) joined to its closing "] " as
// one item, for the few lines that read "] text" with a single space.
#define LOG_INFO_JOINED(text)                                                                  \
    TAVIO_LOG_IF_ENABLED(QtInfoMsg) qInfo() << "[func:" << __func__ << ", line:" << __LINE__ << "] " text

#endif // LOGGING_H
