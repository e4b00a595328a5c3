#include "flashbench.h"
#include "ledger.h"

#include <QCryptographicHash>
#include <QThread>
#include <QtTest>

using namespace FlashBench;

namespace {
// One CSV record per line as RFC 4180 has it: fields split at commas outside
// quotes, quoted fields unquoted, doubled quotes halved; a record that is not
// whole (an open quote at its end) is returned with `whole` false.
QStringList parseRecord(const QString &line, bool *whole)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == QLatin1Char('"') && line.mid(i + 1, 1) == QLatin1String("\""))
            fields.last() += line.at(++i);
        else if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(',') && !quoted)
            fields.append(QString());
        else
            fields.last() += c;
    }
    *whole = !quoted;
    return fields;
}

// The ledger's records after its header; each must be whole and have every column.
QList<QStringList> readLedger(const QString &path, bool *wellFormed)
{
    QFile file(path);
    *wellFormed = file.open(QIODevice::ReadOnly);
    QList<QStringList> records;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    *wellFormed = *wellFormed && lines.last().isEmpty() && lines.first() == Ledger::header().join(',');
    for (int i = 1; i + 1 < lines.size(); ++i) {
        bool whole = false;
        records.append(parseRecord(lines.at(i), &whole));
        *wellFormed = *wellFormed && whole && records.last().size() == Ledger::header().size();
    }
    return records;
}

enum Column { Time, Port, Vid, Serial, Hardware, FirmwareBefore, File, Md5, FirmwareAfter, Outcome, ExitCode, Seconds };
} // namespace

// --ledger: one CSV line per device and attempt.
class TestFlashLedger : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }
    void attempts_areRecordedOneLineEach();
    void concurrentAppends_keepLinesWhole();
    void unwritableLedger_isRefusedBeforeAnythingIsSent_data();
    void unwritableLedger_isRefusedBeforeAnythingIsSent();

private:
    FlashWorld m_world;
};

// A verified success, then a numbered failure, on a device whose hardware
// text needs quoting.
void TestFlashLedger::attempts_areRecordedOneLineEach()
{
    DeviceIdentity identity;
    identity.hardwareVersion = "HW \"B\", rev 2";
    BenchDevice device(identity);
    QVERIFY(device.start());
    device.sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);
    const QByteArray image = pattern(7000, 11);
    const QString path = m_world.writeFile(Image, image);
    const QString ledger = m_world.path(QStringLiteral("attempts.csv"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
    const QStringList arguments = QStringList{"upgrade", path, "--ledger", ledger} + device.portArguments();
    QCOMPARE(runCommand(arguments + QStringList{"--verify"}).exitCode, 0);
    device.sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, UPGRATE_ERR_BAD_FILE}});
    QCOMPARE(runCommand(arguments).exitCode, 4);

    bool wellFormed = false;
    const QList<QStringList> records = readLedger(ledger, &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(records.size(), 2);
    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex());
    for (const QStringList &record : records) {
        const QDateTime time = QDateTime::fromString(record.at(Time), Qt::ISODate);
        QVERIFY2(time.isValid() && time.timeSpec() == Qt::UTC && time >= before, qPrintable(record.at(Time)));
        QCOMPARE(record.at(Port), device.sim.linkPath());
        QCOMPARE(record.at(Vid), QStringLiteral("7536"));
        QCOMPARE(record.at(Serial), QStringLiteral("SN0001"));
        QCOMPARE(record.at(Hardware), QString::fromUtf8(identity.hardwareVersion));
        QCOMPARE(record.at(File), Image);
        QCOMPARE(record.at(Md5), md5);
        QVERIFY(record.at(Seconds).toDouble() >= 0);
    }
    QCOMPARE(records.at(0).at(FirmwareBefore), QStringLiteral("Merlow_R_Sky_1_0_5"));
    QCOMPARE(records.at(0).at(FirmwareAfter), QStringLiteral("Merlow_R_Sky_1_0_6"));
    QCOMPARE(records.at(0).at(Outcome), QStringLiteral("verified"));
    QCOMPARE(records.at(0).at(ExitCode), QStringLiteral("0"));
    QCOMPARE(records.at(1).at(FirmwareBefore), QStringLiteral("Merlow_R_Sky_1_0_6")); // the device took it
    QCOMPARE(records.at(1).at(FirmwareAfter), QString());
    QVERIFY(!records.at(1).at(Outcome).isEmpty());
    QCOMPARE(records.at(1).at(ExitCode), QStringLiteral("4"));
}

// Devices finishing at once write through one ledger: every line whole.
void TestFlashLedger::concurrentAppends_keepLinesWhole()
{
    constexpr int Writers = 8;
    constexpr int LinesEach = 50;
    const QString path = m_world.path(QStringLiteral("concurrent.csv"));
    Ledger ledger;
    QString error;
    QVERIFY2(ledger.open(path, &error), qPrintable(error));
    std::vector<std::unique_ptr<QThread>> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back(QThread::create([&ledger, w] {
            for (int i = 0; i < LinesEach; ++i) {
                Ledger::Entry entry;
                entry.time = QDateTime::currentDateTimeUtc();
                entry.port = QStringLiteral("port%1").arg(w);
                entry.serial = QString::number(i);
                entry.outcome = QStringLiteral("text, \"quoted\", ") + QString(500, QLatin1Char('x'));
                ledger.append(entry);
            }
        }));
        writers.back()->start();
    }
    for (const auto &writer : writers)
        QVERIFY(writer->wait(120000));

    bool wellFormed = false;
    const QList<QStringList> records = readLedger(path, &wellFormed);
    QVERIFY(wellFormed);
    QCOMPARE(records.size(), Writers * LinesEach);
    QSet<QString> seen;
    for (const QStringList &record : records) {
        QVERIFY(record.at(Outcome).startsWith(QLatin1String("text, \"quoted\", x")));
        seen.insert(record.at(Port) + QLatin1Char('/') + record.at(Serial));
    }
    QCOMPARE(seen.size(), Writers * LinesEach);
}

void TestFlashLedger::unwritableLedger_isRefusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QString>("ledger");
    QTest::newRow("no such folder") << m_world.path(QStringLiteral("absent/ledger.csv"));
    QTest::newRow("a folder") << QDir::tempPath();
    QTest::newRow("full disk") << QStringLiteral("/dev/full");
}

void TestFlashLedger::unwritableLedger_isRefusedBeforeAnythingIsSent()
{
    QFETCH(QString, ledger);
    if (ledger.startsWith(QLatin1String("/dev/")) && !QFileInfo::exists(ledger))
        QSKIP("this system has no /dev/full");
    BenchDevice device;
    QVERIFY(device.start());
    const QString path = m_world.writeFile(Image, pattern(2048, 12));
    const CommandRun run = runCommand(QStringList{"upgrade", path, "--ledger", ledger} + device.portArguments());
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QLatin1String("ledger")), qPrintable(run.err));
    QVERIFY(device.sim.frames().isEmpty());
}

QTEST_GUILESS_MAIN(TestFlashLedger)
#include "tst_flashledger.moc"
