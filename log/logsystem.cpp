#include "logsystem.h"

#include <QDateTime>
#include <QScopedValueRollback>
#include <QThread>

#include <cstdio>

namespace {
enum class SinkState { NotCreated, Alive, Destroyed };
std::atomic<SinkState> sinkState{SinkState::NotCreated};
thread_local QString currentThreadTag;
thread_local bool writingFile = false; // the calling thread is writing the file
// What a line adds to its message and tag in the file, about: the time stamp,
// the level word and the brackets.
constexpr int LineFrameBytes = 40;

// The newest whole lines of `bytes`, `limit` bytes at most.
void keepNewestLines(QByteArray &bytes, int limit)
{
    if (bytes.size() <= limit)
        return;
    const int cut = bytes.size() - limit;
    const int lineFeed = bytes.indexOf('\n', cut - 1);
    bytes.remove(0, lineFeed < 0 ? bytes.size() : lineFeed + 1);
}
} // namespace

void LogSystem::setThreadTag(const QString &tag)
{
    currentThreadTag = tag;
}

QString LogSystem::threadTag()
{
    return currentThreadTag;
}

LogSystem *LogSystem::instance()
{
    static LogSystem sink;
    return &sink;
}

bool LogSystem::isAlive()
{
    return sinkState.load() != SinkState::Destroyed;
}

LogSystem::LogSystem()
    : file(QString::fromLatin1(FileName))
{
    sinkState.store(SinkState::Alive);
}

void LogSystem::setFilePath(const QString &path)
{
    QMutexLocker fileLock(&fileMutex);
    file.setPath(path);
}

void LogSystem::keepNextAsBeginning()
{
    QMutexLocker fileLock(&fileMutex);
    file.keepNextAsBeginning();
}

LogSystem::~LogSystem()
{
    shutdown();
    sinkState.store(SinkState::Destroyed);
}

void LogSystem::ensureInitialized()
{
    if (initialized.load(std::memory_order_acquire) || initialized.exchange(true, std::memory_order_seq_cst))
        return;
    QMutexLocker lock(&mutex);
    if (stopping)
        return; // shut down before the first line: everything is written through
    flushThread = QThread::create([this] { flushLoop(); });
    flushThread->start();
}

void LogSystem::log(QtMsgType type, const QString &message, bool urgent)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    bool writeNow;
    {
        QMutexLocker lock(&mutex);
        pending.text.append(message);
        pending.lines.push_back({now, type, currentThreadTag, int(pending.text.size())});
        pendingBytes += message.size() + currentThreadTag.size() + LineFrameBytes;
        writeNow = urgent || stopping || pendingBytes >= MaxPendingBytes;
        if (!writeNow && !flusherWoken && pendingBytes >= WakeFlusherBytes) {
            flusherWoken = true;
            wakeFlusher.wakeOne();
        }
    }
    if (writeNow)
        writePending();
}

void LogSystem::shutdown()
{
    QThread *thread;
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        thread = flushThread;
        flushThread = nullptr;
        wakeFlusher.wakeAll();
    }
    if (thread) {
        thread->wait();
        delete thread;
    }
    writePending();
}

void LogSystem::flushLoop()
{
    for (;;) {
        {
            QMutexLocker lock(&mutex);
            if (!stopping)
                wakeFlusher.wait(&mutex, FlushIntervalMs);
            if (stopping)
                return; // shutdown() writes the rest itself
        }
        writePending();
    }
}

void LogSystem::writePending()
{
    const QScopedValueRollback<bool> writing(writingFile, true);
    QMutexLocker fileLock(&fileMutex);
    {
        QMutexLocker lock(&mutex);
        std::swap(taken, pending); // both keep their capacity: no allocation per line
        pendingBytes = 0;
        flusherWoken = false;
    }
    // Formatted and written a slice at a time: a long backlog costs one
    // slice more memory, not a formatted copy of itself.
    size_t next = 0;
    int start = 0;
    do {
        next = formatSlice(next, &start);
        if (waiting.isEmpty() || file.append(waiting))
            waiting.clear();
        else
            keepNewestLines(waiting, MaxWaitingBytes); // kept for the next attempt, newest last
    } while (next < taken.lines.size());
    taken.clear();
}

size_t LogSystem::formatSlice(size_t next, int *start)
{
    QString text;
    QString timestamp;
    for (; next < taken.lines.size() && text.size() < WakeFlusherBytes; ++next) {
        const PendingLine &line = taken.lines[next];
        timestamp.resize(0); // keeps its capacity
        timestamps.appendTo(timestamp, line.msecsSinceEpoch);
        appendLine(text, timestamp, line.type, line.tag, QStringView(taken.text).mid(*start, line.messageEnd - *start));
        *start = line.messageEnd;
    }
    waiting.append(text.toUtf8());
    return next;
}

QString LogSystem::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("DEBUG");
    case QtInfoMsg: return QStringLiteral("INFO");
    case QtWarningMsg: return QStringLiteral("WARNING");
    case QtCriticalMsg: return QStringLiteral("ERROR");
    case QtFatalMsg: return QStringLiteral("FATAL");
    }
    return QStringLiteral("UNKNOWN");
}

QString LogSystem::timestampNow()
{
    return timestamps.text(QDateTime::currentMSecsSinceEpoch());
}

void LogSystem::PendingLines::clear()
{
    // Both keep their room for the next lines, up to a limit.
    lines.clear();
    text.resize(0);
    if (text.capacity() * int(sizeof(QChar)) > KeptPendingBytes) {
        text = QString();
        text.reserve(KeptPendingBytes / int(sizeof(QChar)));
        std::vector<PendingLine>().swap(lines);
    }
}

void LogSystem::appendLine(QString &out, const QString &timestamp, QtMsgType type, const QString &tag,
                           QStringView message)
{
    out += QLatin1Char('[') + timestamp + QStringLiteral("][") + levelWord(type) + QStringLiteral("] ");
    if (!tag.isEmpty())
        out += QLatin1Char('[') + tag + QStringLiteral("] ");
    out.append(message);
    out += QLatin1Char('\n');
}

QByteArray LogSystem::formatLine(const QString &timestamp, QtMsgType type, const QString &message,
                                 const QString &tag)
{
    QString line;
    appendLine(line, timestamp, type, tag, message);
    return line.toUtf8();
}

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    if (!LogSystem::isAlive())
        return; // the sink is gone at process exit; there is nowhere left to write
    LogSystem *sink = LogSystem::instance();
    if (writingFile) {
        // Raised while this thread writes the file: the file is not to be had.
        const QByteArray line = LogSystem::formatLine(sink->timestampNow(), type, msg, currentThreadTag);
        std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
        return;
    }
    sink->ensureInitialized();
    sink->log(type, msg, type == QtFatalMsg);
}
