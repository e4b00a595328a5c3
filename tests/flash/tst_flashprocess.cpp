#include "devicesimulator.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// The real executable: no display, no Widgets, its own log sink.
class TestFlashProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void help_needsNoDisplay();
    void upgrade_writesJsonLinesAndTheLog();

private:
    // Runs tavio-flash in `workDir` without any display; false when it did not end.
    bool run(const QStringList &arguments, const QString &workDir, QProcess *process);

    QString m_program;
};

void TestFlashProcess::initTestCase()
{
    m_program = QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/..")).filePath(QStringLiteral("tavio-flash"));
    if (!QFileInfo::exists(m_program))
        QSKIP("tavio-flash is not built");
}

bool TestFlashProcess::run(const QStringList &arguments, const QString &workDir, QProcess *process)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(workDir);
    process->start(m_program, arguments);
    return process->waitForFinished(180000) && process->exitStatus() == QProcess::NormalExit;
}

void TestFlashProcess::help_needsNoDisplay()
{
    QTemporaryDir dir;
    QProcess help;
    QVERIFY(run({"--help"}, dir.path(), &help));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().contains("upgrade FILE"));
    QProcess version;
    QVERIFY(run({"--version"}, dir.path(), &version));
    QCOMPARE(version.exitCode(), 0);
    QVERIFY(version.readAllStandardOutput().startsWith("tavio-flash "));
}

void TestFlashProcess::upgrade_writesJsonLinesAndTheLog()
{
    QTemporaryDir dir;
    DeviceSimulator sim;
    QVERIFY(sim.start(dir.filePath(QStringLiteral("device"))));
    sim.setRebootDelay(200);
    QByteArray image(8192, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    QFile file(dir.filePath(QStringLiteral("Merlow_R_Sky_1_0_6.img")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    QProcess flash;
    const QString logPath = dir.filePath(QStringLiteral("bench.log"));
    QVERIFY(run({"upgrade", file.fileName(), "--port", sim.linkPath(), "--vid", "7536", "--json", "--log",
                 logPath, "--clock-factor", "100"}, dir.path(), &flash));
    const QByteArray err = flash.readAllStandardError();
    QCOMPARE(flash.exitCode(), 0);
    QVERIFY2(err.isEmpty(), err.constData());
    QCOMPARE(sim.receivedFiles().value(0).data, image);

    const QList<QByteArray> lines = flash.readAllStandardOutput().split('\n');
    QJsonObject last;
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line.constData());
        last = document.object();
    }
    QCOMPARE(last.value("event").toString(), QStringLiteral("result"));
    QCOMPARE(last.value("exitCode").toInt(), 0);
    QCOMPARE(last.value("text").toString(), QStringLiteral("upgrade finished!")); // the English catalogue's

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> logLines = log.readAll().split('\n');
    QVERIFY(logLines.size() > 10);
    const QRegularExpression format(QStringLiteral(
        "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[(DEBUG|INFO|WARNING|ERROR)\\] "));
    QVERIFY(format.match(QString::fromUtf8(logLines.first())).hasMatch());
    // The session's and its worker's lines carry the device's port.
    const QByteArray tag = "] [" + sim.linkPath().toUtf8() + "] ";
    int sessionLines = 0;
    for (const QByteArray &line : logLines) {
        if (line.contains("tavio-flash: ") || line.contains("upgReboot mode")) {
            QVERIFY2(line.contains(tag), line.constData());
            ++sessionLines;
        }
    }
    QVERIFY(sessionLines >= 3);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("log.txt")))); // --log took its place
}

QTEST_GUILESS_MAIN(TestFlashProcess)
#include "tst_flashprocess.moc"
