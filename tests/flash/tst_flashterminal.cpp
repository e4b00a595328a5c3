#include "flashbench.h"
#include "interruptwatcher.h"
#include "pseudoterminal.h"

#include <QJsonArray>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace FlashBench;

namespace {
// What a terminal shows after `output`: text overwrites, "\n" starts the next
// line (a terminal's output processing adds the "\r"; the pair is raw), and
// the cursor moves and erasures the live lines use.
QStringList screenOf(const QString &output)
{
    static const QRegularExpression control(QStringLiteral("\\x1b\\[(\\d*)([FJK])"));
    QStringList lines{QString()};
    int row = 0, column = 0;
    for (int i = 0; i < output.size(); ++i) {
        const QChar c = output.at(i);
        const QRegularExpressionMatch move = control.match(output, i, QRegularExpression::NormalMatch,
                                                           QRegularExpression::AnchoredMatchOption);
        if (move.hasMatch()) {
            const QChar kind = move.captured(2).at(0);
            if (kind == 'F') {
                row = qMax(0, row - qMax(1, move.captured(1).toInt()));
                column = 0;
            } else if (kind == 'J') {
                lines = lines.mid(0, row + 1);
                lines[row].truncate(column);
            } else { // "2K": the whole line
                lines[row] = QString(column, ' ');
            }
            i += move.capturedLength() - 1;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            column = 0;
            if (++row == lines.size())
                lines.append(QString());
        } else {
            QString &line = lines[row];
            line = line.leftJustified(column).replace(column, 1, c);
            ++column;
        }
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// Standard output and standard error on one terminal, as a shell starts the
// command; what arrives is read as it comes, so the writer never blocks.
class SharedTerminal
{
public:
    bool open()
    {
        QString error;
        if (!m_pair.open(&error))
            return false;
        out = std::fopen(qPrintable(m_pair.slavePath()), "w");
        err = std::fopen(qPrintable(m_pair.slavePath()), "w");
        if (!out || !err)
            return false;
        m_reader = std::thread([this] {
            pollfd master{m_pair.masterFd(), POLLIN, 0};
            char buffer[4096];
            while (!m_received.endsWith(Sentinel) && ::poll(&master, 1, -1) > 0) {
                for (ssize_t n; (n = ::read(master.fd, buffer, sizeof buffer)) > 0;)
                    m_received.append(buffer, int(n));
            }
        });
        return true;
    }
    // The screen once everything written so far has arrived.
    QStringList screen()
    {
        finish();
        return screenOf(QString::fromUtf8(m_received.chopped(int(sizeof Sentinel) - 1)));
    }
    ~SharedTerminal()
    {
        finish();
        for (FILE *stream : {out, err})
            if (stream)
                std::fclose(stream);
    }

    FILE *out = nullptr;
    FILE *err = nullptr;

private:
    static constexpr char Sentinel[] = "\x1b]end\x07"; // a command no writer sends

    void finish()
    {
        if (!m_reader.joinable())
            return;
        [[maybe_unused]] const ssize_t written = ::write(fileno(out), Sentinel, sizeof Sentinel - 1);
        m_reader.join();
    }

    PseudoTerminal m_pair;
    std::thread m_reader;
    QByteArray m_received;
};

QJsonObject progress(const char *port, int percent)
{
    return {{"event", "progress"}, {"port", port}, {"percent", percent}};
}
QJsonObject wait(const char *port, const char *phase, int seconds, int limit)
{
    return {{"event", "wait"}, {"port", port}, {"phase", phase}, {"seconds", seconds}, {"limit", limit}};
}
QJsonObject result(const char *port, int exitCode, const QString &summary)
{
    return {{"event", "result"}, {"port", port}, {"exitCode", exitCode}, {"text", "-"}, {"summary", summary}};
}
} // namespace

// What the command leaves on a terminal that shows both its streams: every
// failure and the summary, and no device's progress line once it has ended.
class TestFlashTerminal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }

    void reporter_data()
    {
        QTest::addColumn<QJsonArray>("events");
        QTest::addColumn<bool>("summarise");
        QTest::addColumn<QStringList>("screen");
        const QString failedA = "A SN1: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, failed: no answer, 1.5 s";
        const QString upgradedB = "B SN2: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, upgraded, 2.0 s";
        QTest::newRow("a failure, another device still live")
            << QJsonArray{progress("A", 49), progress("B", 20), result("A", 5, failedA)} << false
            << QStringList{failedA, "B: transfer 20 %, 0.0 KiB/s"};
        QTest::newRow("a wait counts on its device's line")
            << QJsonArray{progress("A", 20), wait("B", "restart", 0, 1235), wait("B", "restart", 5, 1235)} << false
            << QStringList{"A: transfer 20 %, 0.0 KiB/s", "B: restart: waiting, 5 s (up to 1235 s)"};
        QTest::newRow("the summary after the last device")
            << QJsonArray{progress("A", 49), progress("B", 20), result("A", 5, failedA), progress("B", 60),
                          result("B", 0, upgradedB)} << true
            << QStringList{failedA, upgradedB, "A: failed (exit 5)", "B: upgraded"};
    }

    void reporter()
    {
        QFETCH(QJsonArray, events);
        QFETCH(bool, summarise);
        QFETCH(QStringList, screen);
        SharedTerminal terminal;
        QVERIFY(terminal.open());
        QMap<QString, QString> ends;
        {
            QTextStream out(terminal.out), err(terminal.err);
            FlashReporter reporter(out, err, FlashReporter::Style::Terminal);
            for (const QJsonValue &event : qAsConst(events)) {
                reporter.report(event.toObject());
                if (string(event.toObject(), "event") == QLatin1String("result"))
                    ends.insert(string(event.toObject(), "port"),
                                FlashReporter::endOf(number(event.toObject(), "exitCode"), false));
            }
            if (summarise)
                reporter.summarise(ends);
        }
        QCOMPARE(terminal.screen(), screen);
    }

    void interrupt_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("interrupts");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lastLines"); // %1: the device's port, S: its seconds
        const QString change = "%1 SN0001: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, ";
        QTest::newRow("upgrade, Ctrl-C")
            << QStringList{} << 1 << 5
            << QStringList{"Interrupted: the upgrade is cancelled (once more: the command ends at once)",
                           change + "cancelled, S s"};
        QTest::newRow("station, Ctrl-C: the upgrade finishes")
            << QStringList{"--watch"} << 1 << 0
            << QStringList{change + "upgraded, S s", "upgraded 1, up to date 0, failed 0, skipped 0"};
        QTest::newRow("station, Ctrl-C twice: it is cancelled")
            << QStringList{"--watch"} << 2 << 5
            << QStringList{change + "cancelled, S s", "upgraded 0, up to date 0, failed 1, skipped 0"};
    }

    // Ctrl-C in the transfer, while the device's progress line is drawn; a
    // device attached then is never touched.
    void interrupt()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, interrupts);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lastLines);
        BenchDevice device, late(withSerial("SN0002"));
        QVERIFY(device.start() && late.start());
        const auto ports = std::make_shared<BenchPorts>();
        ports->attach(device);
        onRequest(device.sim, AR_CMD_SENDFILE_DATA, 3, [&] {
            for (int i = 0; i < interrupts; ++i)
                InterruptWatcher::deliver(SIGINT);
            ports->attach(late);
        });
        SharedTerminal terminal;
        QVERIFY(terminal.open());
        {
            QTextStream out(terminal.out), err(terminal.err);
            FlashEnvironment environment{ports, &out, &err, nullptr, true};
            const QStringList command{"tavio-flash", "upgrade", m_world.writeFile(Image, pattern(32 * 1024, 3)),
                                      "--clock-factor", "100"};
            QCOMPARE(FlashCommand(environment).run(command + arguments), exitCode);
        }
        QVERIFY(late.sim.frames().isEmpty());
        static const QRegularExpression seconds(QStringLiteral(", \\d+\\.\\d s$"));
        const QStringList screen = terminal.screen().replaceInStrings(seconds, QStringLiteral(", S s"));
        for (QString &line : lastLines)
            line = line.arg(device.sim.linkPath());
        static const QRegularExpression live(QStringLiteral(": (transfer|connect|announce|verdict|restart)"));
        QVERIFY2(screen.mid(screen.size() - lastLines.size()) == lastLines && screen.filter(live).isEmpty(),
                 qPrintable(screen.join('\n')));
    }

private:
    FlashWorld m_world;
};

QTEST_GUILESS_MAIN(TestFlashTerminal)
#include "tst_flashterminal.moc"
