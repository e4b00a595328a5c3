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
#include <vector>

class QThread;

// The process-wide log sink behind customMessageHandler. A thread that logs
// only records the line's parts (its time, level, thread tag and message) in
// memory; a flush thread formats them and writes them to "log.txt" in the
// working directory (see LogFile) every 100 ms, or once 64 KiB have gathered.
// A fatal message, a line logged after shutdown() and a flush thread far
// behind have the logging thread write at once. Every file operation happens
// under one file lock and takes every pending line with it, so batches reach
// the file in the order they were logged. A message raised while a thread
// writes the file (a warning of Qt's) goes to standard error: the sink never
// re-enters itself.
class LogSystem
{
public:
    static constexpr int FlushIntervalMs = 100;
    static constexpr int WakeFlusherBytes = 65536;
    // What the pending lines keep of their room once written: a burst that
    // outgrew it (many devices logging at once) gives the rest back.
    static constexpr int KeptPendingBytes = 4 * WakeFlusherBytes;
    // Lines logged faster than the flush thread writes them (many devices
    // at once) are written by the logging thread itself past this much, so
    // the log's memory stays bounded whatever the rate.
    static constexpr int MaxPendingBytes = 8 * WakeFlusherBytes;
    // Lines the file did not take wait, newest kept, up to this much; the
    // logging thread writes itself rather than hold more.
    static constexpr int MaxWaitingBytes = int(LogFile::MaxFileBytes);
    static constexpr char FileName[] = "log.txt"; // in the program's folder (ProgramFiles)

    static LogSystem *instance();

    // Where the lines go instead of "log.txt" in the working directory (the
    // command's --log); before the first line is logged.
    void setFilePath(const QString &path);

    // Starts the flush thread once; cheap to call on every message.
    void ensureInitialized();

    // Records one line logged now by the calling thread; writes through when urgent.
    void log(QtMsgType type, const QString &message, bool urgent);

    // Stops the flush thread and writes every line logged so far. Lines logged
    // afterwards are written straight through. Safe to call more than once.
    void shutdown();

    // What is logged from now on starts the next generation kept as
    // "log.txt.1" however much follows it: an upgrade calls it as it starts,
    // so its first lines survive it.
    void keepNextAsBeginning();

    static QString levelWord(QtMsgType type);
    // One line of the file: "[timestamp][LEVEL] message" and a line feed, with
    // "[tag] " before the message when there is a tag.
    static QByteArray formatLine(const QString &timestamp, QtMsgType type, const QString &message,
                                 const QString &tag = QString());
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
    // A line as it was logged, formatted when it is written. Its message is
    // copied into the text of the pending lines, so the logging thread frees
    // its own string as usual and nothing is allocated per line.
    struct PendingLine
    {
        qint64 msecsSinceEpoch;
        QtMsgType type;
        QString tag;    // shared with the thread's own
        int messageEnd; // in the pending text; the message starts where the previous one ends
    };
    struct PendingLines
    {
        std::vector<PendingLine> lines; // in the order logged
        QString text;                   // their messages, one after another
        void clear();
    };

    LogSystem();
    void flushLoop();
    void writePending();
    // Formats the taken lines from `next` on, about WakeFlusherBytes of
    // them, onto the waiting bytes; the message of line `next` starts at
    // `*start` of the taken text. Returns the first line not formatted.
    size_t formatSlice(size_t next, int *start);
    // Appends the text of one line to `out`.
    static void appendLine(QString &out, const QString &timestamp, QtMsgType type, const QString &tag,
                           QStringView message);

    LogTimestamp timestamps;
    QMutex mutex;                      // guards the members up to `stopping`
    PendingLines pending;
    int pendingBytes = 0;              // about what `pending` takes in the file
    bool flusherWoken = false;         // since it last took the pending lines
    QWaitCondition wakeFlusher;        // waited on with `mutex`
    bool stopping = false;
    std::atomic<bool> initialized{false};

    QMutex fileMutex;                  // serialises every use of the file
    LogFile file;                      // guarded by fileMutex
    PendingLines taken;                // guarded by fileMutex: the lines being written
    QByteArray waiting;                // guarded by fileMutex: lines the file did not take yet
    QThread *flushThread = nullptr;    // guarded by `mutex`
};

void customMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

#endif // LOGSYSTEM_H
