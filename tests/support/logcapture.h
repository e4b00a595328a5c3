#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QStringList>
#include <QtGlobal>
#include <optional>

// Collects every message logged while it exists (from any thread), so tests
// can check what the program wrote to its log.
class LogCapture
{
public:
    LogCapture() { s_previous = qInstallMessageHandler(&LogCapture::handler); clear(); }
    ~LogCapture() { qInstallMessageHandler(s_previous); }

    static void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
        types().clear();
    }
    // Messages containing `text`, of any level or of the one given.
    static int count(const QString &text, std::optional<QtMsgType> type = std::nullopt)
    {
        QMutexLocker lock(&mutex());
        int n = 0;
        for (int i = 0; i < store().size(); ++i)
            n += ((!type || types().at(i) == *type) && store().at(i).contains(text)) ? 1 : 0;
        return n;
    }
    static bool contains(const QString &text) { return count(text) > 0; }

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
