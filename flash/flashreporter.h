#ifndef FLASHREPORTER_H
#define FLASHREPORTER_H

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QString>

class QTextStream;

// Writes the devices' events: JSON Lines, plain lines (not a terminal), or
// on a terminal plain lines above one progress line per device, redrawn in
// place. An upgrade ends with its device's summary line (its result's
// "summary"), which takes the device's live line's place above the others.
// Standard error gets human text only: each device's failure (with JSON,
// beside its result event). Both streams often share the terminal:
// each is flushed before the other is written, and whatever goes to
// standard error while the command reports goes through tell(), so the
// cursor only ever moves up over the live lines.
class FlashReporter : public QObject
{
    Q_OBJECT

public:
    enum class Style { Plain, Terminal, Json };

    FlashReporter(QTextStream &out, QTextStream &err, Style style);

    // The plain lines of a choice made from a folder or archive name every
    // file considered, with the reason it was not chosen.
    void setExplainsChoices(bool explains) { m_explainsChoices = explains; }
    // How a device's upgrade ended, in a word or two: "upgraded", "up to
    // date" (nothing sent) or "failed (exit N)".
    static QString endOf(int exitCode, bool upToDate);
    // Per device: "PORT: " and how it ended.
    void summarise(const QMap<QString, QString> &ends);
    // Station mode: "upgraded N, up to date N, failed N, skipped N" (and
    // the devices of a dry run), or a "summary" event.
    void summariseStation(int upgraded, int upToDate, int failed, int skipped, int dryRun);
    // A line on standard error, above the live lines.
    void tell(const QString &line);
    // The question on standard error where the live lines were, and the line
    // read from `in` (none: empty); the live lines come back below the answer.
    QString ask(const QString &question, QTextStream *in);

public slots:
    void report(const QJsonObject &event);

private:
    QString lineFor(const QJsonObject &event);
    QString progressText(const QJsonObject &event) const;
    QString liveText(const QJsonObject &event) const;
    static QString waitText(const QJsonObject &event);
    QString choiceText(const QJsonObject &event) const;
    void printLine(const QString &line);
    void setLiveLine(const QString &port, const QString &text);
    void clearLive();
    void drawLive();

    QTextStream &m_out;
    QTextStream &m_err;
    Style m_style;
    bool m_explainsChoices = false;
    QMap<QString, QString> m_live;       // terminal: each running device's progress line
    int m_drawn = 0;                     // terminal: live lines on the screen now
    QMap<QString, int> m_lastStatus;     // plain: a status is told when it changes
    QMap<QString, int> m_lastTenth;      // plain: progress is told every 10 %
    QMap<QString, QString> m_lastWait;   // plain: a wait is told when it starts, then every 30 s
};

#endif // FLASHREPORTER_H
