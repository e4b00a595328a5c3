#include "logsystem.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QThread>

namespace {
constexpr int LineSearchChunk = 1024;

enum class SinkState { NotCreated, Alive, Destroyed };
std::atomic<SinkState> sinkState{SinkState::NotCreated};
thread_local QString currentThreadTag;
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
    : filePath(QString::fromLatin1(FileName))
{
    sinkState.store(SinkState::Alive);
}

void LogSystem::setFilePath(const QString &path)
{
    QMutexLocker fileLock(&fileMutex);
    filePath = path;
}

LogSystem::~LogSystem()
{
    shutdown();
    sinkState.store(SinkState::Destroyed);
}

void LogSystem::ensureInitialized()
{
    if (initialized.exchange(true, std::memory_order_seq_cst))
        return;
    flushThread = QThread::create([this] { flushLoop(); });
    flushThread->start();
}

void LogSystem::append(const QByteArray &line, bool urgent)
{
    bool writeNow;
    {
        QMutexLocker lock(&mutex);
        buffer.append(line);
        writeNow = urgent || stopping || buffer.size() >= DirectWriteBytes;
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
    QMutexLocker fileLock(&fileMutex);
    QByteArray pending;
    {
        QMutexLocker lock(&mutex);
        pending.swap(buffer);
    }
    if (pending.isEmpty())
        return;

    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // Keep the lines for the next attempt, newest last.
        QMutexLocker lock(&mutex);
        buffer.prepend(pending);
        if (buffer.size() > MaxFileBytes)
            buffer = buffer.right(int(TrimmedFileBytes));
        return;
    }
    file.write(pending);
    file.close();
    if (file.size() > MaxFileBytes)
        rotateLog(file);
}

void LogSystem::rotateLog(QFile &file)
{
    if (!file.open(QIODevice::ReadWrite))
        return;
    file.seek(qMax<qint64>(0, file.size() - TrimmedFileBytes));
    while (!file.atEnd()) {
        const qint64 chunkStart = file.pos();
        const QByteArray chunk = file.read(LineSearchChunk);
        const int newline = chunk.indexOf('\n');
        if (newline >= 0) {
            file.seek(chunkStart + newline + 1);
            break;
        }
    }
    const QByteArray tail = file.readAll();
    file.close();
    // Replace the file in one step, so a reader never sees it half written.
    QSaveFile trimmed(file.fileName());
    if (trimmed.open(QIODevice::WriteOnly)) {
        trimmed.write(tail);
        trimmed.commit();
    }
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

QByteArray LogSystem::formatLine(const QString &timestamp, QtMsgType type, const QString &message)
{
    const QString line = QLatin1Char('[') + timestamp + QStringLiteral("][") + levelWord(type)
            + QStringLiteral("] ") + message + QLatin1Char('\n');
    return line.toUtf8();
}

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    if (!LogSystem::isAlive())
        return; // the sink is gone at process exit; there is nowhere left to write
    LogSystem *sink = LogSystem::instance();
    sink->ensureInitialized();
    const QString tagged = currentThreadTag.isEmpty() ? msg : QStringLiteral("[%1] %2").arg(currentThreadTag, msg);
    sink->append(LogSystem::formatLine(sink->timestampNow(), type, tagged), type == QtFatalMsg);
}
