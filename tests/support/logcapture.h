#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QStringList>
#include <QtGlobal>
#include <functional>
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
        trigger() = {};
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
    // Runs `act` once, on the thread that logs it, when a message containing
    // `text` is logged: a step of the program that signals nothing else.
    static void onMessage(const QString &text, std::function<void()> act)
    {
        QMutexLocker lock(&mutex());
        trigger() = {text, std::move(act)};
    }

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        std::function<void()> act;
        {
            QMutexLocker lock(&mutex());
            store().append(message);
            types().append(type);
            if (trigger().second && message.contains(trigger().first))
                std::swap(act, trigger().second);
        }
        if (act)
            act();
    }
    static QMutex &mutex() { static QMutex m; return m; }
    static QStringList &store() { static QStringList s; return s; }
    static QList<QtMsgType> &types() { static QList<QtMsgType> t; return t; }
    static std::pair<QString, std::function<void()>> &trigger()
    {
        static std::pair<QString, std::function<void()>> t;
        return t;
    }
    static inline QtMessageHandler s_previous = nullptr;
};

#endif // LOGCAPTURE_H
