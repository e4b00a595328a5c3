#include "flashreporter.h"

#include "identitydisplay.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

namespace {
constexpr int ProgressStepPercent = 10; // plain output tells progress this often
constexpr int PlainWaitEverySeconds = 30; // and a wait this often
const char ClearToEnd[] = "\x1b[J";
const char ClearLine[] = "\x1b[2K";

QString text(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toString();
}

int number(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toInt();
}

QString rateText(double bytesPerSecond)
{
    return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
}
} // namespace

FlashReporter::FlashReporter(QTextStream &out, QTextStream &err, Style style)
    : m_out(out)
    , m_err(err)
    , m_style(style)
{
}

void FlashReporter::report(const QJsonObject &event)
{
    const QString type = text(event, "event");
    const QString port = text(event, "port");
    const bool failed = type == QLatin1String("result") && number(event, "exitCode") != 0;
    if (m_style == Style::Json) {
        m_out << QJsonDocument(event).toJson(QJsonDocument::Compact) << '\n';
        m_out.flush();
        if (failed)
            tell(port + QStringLiteral(": ") + text(event, "text"));
        return;
    }
    // A device's last event: its result, or in station mode its being left alone.
    const bool last = type == QLatin1String("result") || text(event, "phase") == QLatin1String("left-alone");
    if (m_style == Style::Terminal && !last) {
        const QString live = liveText(event);
        if (!live.isEmpty()) {
            setLiveLine(port, live);
            return;
        }
    }
    if (last)
        m_live.remove(port);
    QString line = text(event, "summary"); // an upgrade's end names its device itself
    if (line.isEmpty()) {
        const QString told = lineFor(event);
        if (told.isEmpty())
            return;
        line = port + QStringLiteral(": ") + told;
    }
    if (failed)
        tell(line);
    else
        printLine(line);
}

QString FlashReporter::lineFor(const QJsonObject &event)
{
    const QString type = text(event, "event");
    const QString port = text(event, "port");
    if (type == QLatin1String("identity"))
        return QStringLiteral("serial %1, hardware %2, firmware %3, %4 °C, maximum segment %5")
            .arg(IdentityDisplay::text(text(event, "serial")), IdentityDisplay::text(text(event, "hardware")),
                 IdentityDisplay::text(text(event, "firmware")),
                 IdentityDisplay::temperature(number(event, "temperature")))
            .arg(number(event, "maxSegment"));
    if (type == QLatin1String("rules"))
        return choiceText(event);
    if (type == QLatin1String("phase") && text(event, "phase") == QLatin1String("left-alone"))
        return QStringLiteral("left alone: %1 was handled earlier in this run").arg(text(event, "serial"));
    if (type == QLatin1String("phase"))
        return text(event, "phase");
    if (type == QLatin1String("progress")) {
        const int tenth = number(event, "percent") / ProgressStepPercent;
        if (m_lastTenth.value(port, -1) == tenth)
            return QString();
        m_lastTenth.insert(port, tenth);
        return progressText(event);
    }
    if (type == QLatin1String("wait")) {
        const QString wait = text(event, "phase") + QLatin1Char(' ')
                             + QString::number(number(event, "seconds") / PlainWaitEverySeconds);
        if (m_lastWait.value(port) == wait)
            return QString();
        m_lastWait.insert(port, wait);
        return waitText(event);
    }
    if (type == QLatin1String("status")) {
        const int code = number(event, "code");
        if (m_lastStatus.contains(port) && m_lastStatus.value(port) == code)
            return QString();
        m_lastStatus.insert(port, code);
        return QStringLiteral("device status %1: %2").arg(code).arg(text(event, "text"));
    }
    if (type == QLatin1String("result"))
        return number(event, "exitCode") == 0
                ? text(event, "text")
                : QStringLiteral("failed (exit %1): %2").arg(number(event, "exitCode")).arg(text(event, "text"));
    return QString();
}

// A file given alone is accepted or refused; from a folder or archive the
// event's text tells what was chosen, or why nothing was.
QString FlashReporter::choiceText(const QJsonObject &event) const
{
    const bool accepted = event.value(QLatin1String("accepted")).toBool();
    const bool alone = text(event.value(QLatin1String("source")).toObject(), "kind") == QLatin1String("file");
    QString line;
    if (alone)
        line = accepted ? QStringLiteral("%1 accepted (%2)").arg(text(event, "file"), text(event, "sequence"))
                        : QStringLiteral("%1 refused: %2").arg(text(event, "file"), text(event, "text"));
    else
        line = accepted ? QStringLiteral("%1 (%2)").arg(text(event, "text"), text(event, "sequence")) : text(event, "text");
    if (!m_explainsChoices)
        return line;
    for (const QJsonValue &value : event.value(QLatin1String("candidates")).toArray()) {
        const QJsonObject candidate = value.toObject();
        line += QStringLiteral("\n    %1: %2").arg(text(candidate, "file"), text(candidate, "text"));
    }
    return line;
}

// What a terminal shows on the device's live line for `event`; empty: the
// event is no live line's.
QString FlashReporter::liveText(const QJsonObject &event) const
{
    const QString type = text(event, "event");
    if (type == QLatin1String("progress"))
        return progressText(event);
    if (type == QLatin1String("wait"))
        return waitText(event);
    if (type == QLatin1String("phase"))
        return text(event, "phase");
    return QString();
}

QString FlashReporter::waitText(const QJsonObject &event)
{
    return QStringLiteral("%1: waiting, %2 s (up to %3 s)")
        .arg(text(event, "phase")).arg(number(event, "seconds")).arg(number(event, "limit"));
}

QString FlashReporter::progressText(const QJsonObject &event) const
{
    const double rate = event.value(QLatin1String("rate")).toDouble();
    const double left = double(event.value(QLatin1String("total")).toDouble()
                               - event.value(QLatin1String("bytes")).toDouble());
    QString line = QStringLiteral("transfer %1 %, %2").arg(number(event, "percent")).arg(rateText(rate));
    if (rate > 0)
        line += QStringLiteral(", %1 s left").arg(qRound64(left / rate));
    return line;
}

void FlashReporter::printLine(const QString &line)
{
    clearLive();
    m_out << line << '\n';
    drawLive();
}

void FlashReporter::tell(const QString &line)
{
    clearLive();
    m_out.flush(); // the live lines are gone before the line takes their place
    m_err << line << '\n' << Qt::flush;
    drawLive();
}

QString FlashReporter::ask(const QString &question, QTextStream *in)
{
    clearLive();
    m_out.flush();
    m_err << question << Qt::flush;
    const QString answer = in ? in->readLine().trimmed() : QString();
    drawLive();
    return answer;
}

void FlashReporter::setLiveLine(const QString &port, const QString &text)
{
    m_live.insert(port, port + QStringLiteral(": ") + text);
    clearLive();
    drawLive();
}

void FlashReporter::clearLive()
{
    if (m_drawn > 0)
        m_out << "\x1b[" << m_drawn << 'F' << ClearToEnd; // to the first live line's start
    m_drawn = 0;
}

void FlashReporter::drawLive()
{
    if (m_style == Style::Terminal) {
        for (const QString &line : qAsConst(m_live))
            m_out << ClearLine << line << '\n';
        m_drawn = m_live.size();
    }
    m_out.flush();
}

QString FlashReporter::endOf(int exitCode, bool upToDate)
{
    if (exitCode != 0)
        return QStringLiteral("failed (exit %1)").arg(exitCode);
    return upToDate ? QStringLiteral("up to date") : QStringLiteral("upgraded");
}

void FlashReporter::summarise(const QMap<QString, QString> &ends)
{
    if (m_style == Style::Json || ends.size() < 2)
        return;
    for (auto it = ends.cbegin(); it != ends.cend(); ++it)
        printLine(QStringLiteral("%1: %2").arg(it.key(), it.value()));
}

void FlashReporter::summariseStation(int upgraded, int upToDate, int failed, int skipped, int dryRun)
{
    if (m_style == Style::Json) {
        const QJsonObject summary{{QStringLiteral("event"), QStringLiteral("summary")},
                                  {QStringLiteral("upgraded"), upgraded},
                                  {QStringLiteral("upToDate"), upToDate},
                                  {QStringLiteral("failed"), failed},
                                  {QStringLiteral("skipped"), skipped},
                                  {QStringLiteral("dryRun"), dryRun}};
        m_out << QJsonDocument(summary).toJson(QJsonDocument::Compact) << '\n' << Qt::flush;
        return;
    }
    QString line = QStringLiteral("upgraded %1, up to date %2, failed %3, skipped %4")
                       .arg(upgraded)
                       .arg(upToDate)
                       .arg(failed)
                       .arg(skipped);
    if (dryRun > 0)
        line += QStringLiteral(", dry run (nothing sent) %1").arg(dryRun);
    printLine(line);
}
