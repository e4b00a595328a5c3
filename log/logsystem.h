#ifndef LOGSYSTEM_H
#define LOGSYSTEM_H

#include "logfile.h"
#include "logtimestamp.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QWaitCondition>
#include <QtGlobal>
#include <atomic>

class QThread;

// The process-wide log sink behind customMessageHandler. Lines are kept in
// memory and written to "log.txt" in the working directory (see LogFile) by a
// flush thread every 100 ms, or at once by the logging thread when 4 KiB have
// gathered or the message is fatal. Every file operation happens under one
// file lock and takes the whole pending buffer with it, so batches reach the
// file in the order they were logged. A message raised while a thread writes
// the file (a warning of Qt's) goes to standard error: the sink never
// re-enters itself.
class LogSystem
{
public:
    static constexpr int FlushIntervalMs = 100;
    static constexpr int DirectWriteBytes = 4096;
    // Lines the file did not take wait, newest kept, up to this much.
    static constexpr int MaxWaitingBytes = int(LogFile::MaxFileBytes);
    static constexpr char FileName[] = "log.txt"; // in the program's folder (ProgramFiles)

    static LogSystem *instance();

    // Where the lines go instead of "log.txt" in the working directory (the
    // command's --log); before the first line is logged.
    void setFilePath(const QString &path);

    // Starts the flush thread once; cheap to call on every message.
    void ensureInitialized();

    // Buffers one formatted line; writes through when the batch is full or urgent.
    void append(const QByteArray &line, bool urgent);

    // Stops the flush thread and writes every line logged so far. Lines logged
    // afterwards are written straight through. Safe to call more than once.
    void shutdown();

    // What is logged from now on starts the next generation kept as
    // "log.txt.1" however much follows it: an upgrade calls it as it starts,
    // so its first lines survive it.
    void keepNextAsBeginning();

    static QString levelWord(QtMsgType type);
    // One line of the file: "[timestamp][LEVEL] message" and a line feed.
    static QByteArray formatLine(const QString &timestamp, QtMsgType type, const QString &message);
    // The time stamp of a line logged now.
    QString timestampNow();

    // A tag written before every message logged on the calling thread, as
    // "[tag] " (the command tags each device's threads with its port); an
    // empty tag: none.
    static void setThreadTag(const QString &tag);
    static QString threadTag();

    // False once the sink has been destroyed at process exit.
    static bool isAlive();

    ~LogSystem();

private:
    LogSystem();
    void flushLoop();
    void writePending();

    LogTimestamp timestamps;
    QMutex mutex;               // guards buffer
    QByteArray buffer;
    std::atomic<bool> initialized{false};

    QMutex fileMutex;           // serialises every use of the file
    LogFile file;               // guarded by fileMutex
    QWaitCondition wakeFlusher; // waited on with `mutex`
    bool stopping = false;      // guarded by `mutex`
    QThread *flushThread = nullptr;
};

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

#endif // LOGSYSTEM_H
