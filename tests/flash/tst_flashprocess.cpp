#include "flashbench.h"
#include "packagebuilder.h"
#include "temporaryfolders.h"

#include <QProcess>
#include <QtTest>
#include <csignal>

using namespace FlashBench;

// The real executable: no display, no Widgets, its own log sink.
class TestFlashProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_world.setUp());
        m_program = QCoreApplication::applicationDirPath() + QStringLiteral("/../tavio-flash");
        if (!QFileInfo::exists(m_program))
            QSKIP("tavio-flash is not built");
    }

    void upgrade_writesJsonLinesAndTheLog_andALogOnADeviceEndsTheCommand()
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
        const QRegularExpression format(QStringLiteral(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[(DEBUG|INFO|WARNING|ERROR)\\] "));
        const QStringList lines = QString::fromUtf8(TestBytes::readFile(logPath)).split('\n');
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

        // The sink writes its last lines at the exit, where nothing may wait for ever.
        QCOMPARE(run(QStringList{"info", "--log", "/dev/null"} + device.portArguments()).exitCode, 0);
    }

    void signal_leavesNoPartFolderBehind_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("Ctrl-C: cancelled") << SIGINT;
        QTest::newRow("SIGTERM: cancelled") << SIGTERM;
        QTest::newRow("SIGKILL: removed at the next start") << SIGKILL;
    }

    // On real time, a package's upgrade waits long for a device that never
    // confirms its restart: the signal comes while its request waits for the
    // acknowledgement, with the package's parts in their folder. A start
    // meanwhile leaves that folder to its process; a killed process leaves it
    // behind, and the next start removes it, but not what a link in it leads to.
    void signal_leavesNoPartFolderBehind()
    {
        QFETCH(int, signalNumber);
        DeviceIdentity identity;
        identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6; // the line that takes packages
        BenchDevice device(identity);
        QVERIFY(device.start());
        device.sim.setSilent(true, AR_COMMAND_GET_ACTIVE);
        PackageBuilder builder;
        builder.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
        QVERIFY(builder.addPart(IMG_TAREL_APP, pattern(3000, 1)) && builder.addPart(IMG_TAREL_FPGA, pattern(2000, 2)));
        QTemporaryDir temp, outside;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temp.path());
        const QDir own(TemporaryFolders(temp.path()).path());
        const auto partFolders = [&own] { return own.entryList({QStringLiteral("parts-*")}, QDir::Dirs); };
        const auto startAgain = [&] {
            QProcess next;
            start(next, {"--version"}, environment);
            return next.waitForFinished(60000) && next.exitCode() == 0;
        };

        QProcess process;
        start(process, QStringList{"upgrade", m_world.writeFile(Image, builder.bytes()), "--json"} + device.portArguments(),
              environment);
        QTRY_VERIFY_WITH_TIMEOUT(!device.framesOf(AR_COMMAND_GET_ACTIVE).isEmpty(), 60000);
        QVERIFY(startAgain());
        QCOMPARE(partFolders().size(), 1);
        const int requestsAtSignal = firstTransmissions(device.sim.frames()).size();
        QCOMPARE(::kill(pid_t(process.processId()), signalNumber), 0);
        QVERIFY(process.waitForFinished(60000));
        if (signalNumber == SIGKILL) {
            QCOMPARE(partFolders().size(), 1);
            QVERIFY(TestBytes::writeFile(outside.filePath("kept"), "kept"));
            QVERIFY(QFile::link(outside.path(), own.filePath(partFolders().first() + "/link")));
            QVERIFY(startAgain());
            QVERIFY(partFolders().isEmpty());
            QVERIFY(QFileInfo::exists(outside.filePath("kept")));
            return;
        }

        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 5);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).startsWith(QStringLiteral("Interrupted: ")));
        QVERIFY(partFolders().isEmpty());
        QCOMPARE(firstTransmissions(device.sim.frames()).size(), requestsAtSignal); // the sequence went no further
        bool parsed = false;
        const QList<QJsonObject> events = CommandRun{0, QString::fromUtf8(process.readAllStandardOutput()), {}}.events(&parsed);
        QVERIFY(parsed && !events.isEmpty());
        QCOMPARE(string(events.last(), "event"), QStringLiteral("result"));
        QCOMPARE(string(events.last(), "text"), QStringLiteral("cancelled"));
    }

private:
    // Runs tavio-flash in the world's folder without any display.

    CommandRun run(const QStringList &arguments)
    {
        QProcess process;
        start(process, arguments);
        const bool ended = process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
        return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }
    void start(QProcess &process, const QStringList &arguments,
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

    FlashWorld m_world;
    QString m_program;
};

void TestFlashProcess::start(QProcess &process, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcessEnvironment headless = environment;
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        headless.remove(QLatin1String(name));
    process.setProcessEnvironment(headless);
    process.setWorkingDirectory(m_world.path(QString()));
    process.start(m_program, arguments);
}

QTEST_GUILESS_MAIN(TestFlashProcess)
#include "tst_flashprocess.moc"
