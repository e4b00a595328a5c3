#include "flashbench.h"

#include <QProcess>
#include <QtTest>

using namespace FlashBench;

// The real executable: no display, no Widgets, its own log sink.
class TestFlashProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void upgrade_writesJsonLinesAndTheLog();

private:
    // Runs tavio-flash in the world's folder without any display.
    CommandRun run(const QStringList &arguments);

    FlashWorld m_world;
    QString m_program;
};

void TestFlashProcess::initTestCase()
{
    QVERIFY(m_world.setUp());
    m_program = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
                    .filePath(QStringLiteral("tavio-flash"));
    if (!QFileInfo::exists(m_program))
        QSKIP("tavio-flash is not built");
}

CommandRun TestFlashProcess::run(const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(m_world.path(QString()));
    process.start(m_program, arguments);
    const bool ended = process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void TestFlashProcess::upgrade_writesJsonLinesAndTheLog()
{
    BenchDevice device;
    QVERIFY(device.start());
    const QByteArray image = pattern(8192, 5);
    const QString logPath = m_world.path(QStringLiteral("bench.log"));
    const CommandRun upgrade = run(QStringList{"upgrade", m_world.writeFile(Image, image), "--json", "--log", logPath,
                                               "--clock-factor", "100"} + device.portArguments());
    QCOMPARE(upgrade.exitCode, 0);
    QVERIFY2(upgrade.err.isEmpty(), qPrintable(upgrade.err));
    QCOMPARE(device.received(), QList<QByteArray>{image});
    bool parsed = false;
    const QList<QJsonObject> events = upgrade.events(&parsed);
    QVERIFY(parsed);
    QCOMPARE(string(events.last(), "event"), QStringLiteral("result"));
    QCOMPARE(string(events.last(), "text"), QStringLiteral("upgrade finished!")); // the English catalogue's

    // The window's format; the session's and its worker's lines carry the device's port.
    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QRegularExpression format(QStringLiteral(
        "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[(DEBUG|INFO|WARNING|ERROR)\\] "));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n');
    QVERIFY(format.match(lines.first()).hasMatch());
    const QString tag = "] [" + device.sim.linkPath() + "] ";
    int sessionLines = 0;
    for (const QString &line : lines) {
        if (line.contains("tavio-flash: ") || line.contains("upgReboot mode")) {
            QVERIFY2(line.contains(tag), qPrintable(line));
            ++sessionLines;
        }
    }
    QVERIFY(sessionLines >= 3);
    QVERIFY(!QFileInfo::exists(m_world.path(QStringLiteral("log.txt")))); // --log took its place
}

QTEST_GUILESS_MAIN(TestFlashProcess)
#include "tst_flashprocess.moc"
