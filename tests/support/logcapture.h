#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects every message logged while it exists (from any thread), so tests
// can check what the program wrote to its log.
class LogCapture
{
public:
    LogCapture() { s_previous = qInstallMessageHandler(&LogCapture::handler); clear(); }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static QStringList messages()
    {
        QMutexLocker lock(&mutex());
        return store();
    }
    static void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
        types().clear();
    }
    static int count(const QString &text)
    {
        int n = 0;
        for (const QString &message : messages())
            n += message.contains(text) ? 1 : 0;
        return n;
    }
    static bool contains(const QString &text) { return count(text) > 0; }
    // Messages of one level containing `text`.
    static int count(const QString &text, QtMsgType type)
    {
        QMutexLocker lock(&mutex());
        int n = 0;
        for (int i = 0; i < store().size(); ++i)
            n += (types().at(i) == type && store().at(i).contains(text)) ? 1 : 0;
        return n;
    }
    // Messages containing `text`, in order.
    static QStringList matching(const QString &text) { return messages().filter(text); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker lock(&mutex());
        store().append(message);
        types().append(type);
    }
    static QMutex &mutex() { static QMutex m; return m; }
    static QStringList &store() { static QStringList s; return s; }
    static QList<QtMsgType> &types() { static QList<QtMsgType> t; return t; }
    static inline QtMessageHandler s_previous = nullptr;
};

#endif // LOGCAPTURE_H
