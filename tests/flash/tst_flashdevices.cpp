#include "firmwareshelves.h"
#include "flashbench.h"
#include "interruptwatcher.h"
#include "ledger.h"

#include <QCryptographicHash>
#include <QSemaphore>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <thread>

using namespace FlashBench;

namespace {
// The ledger's records after its header, split as RFC 4180 has it; false
// when the header (today's, or its first `columns`) is not the first line,
// or a record is not whole (an open quote) or has another width.
bool readLedger(const QString &path, QList<QStringList> *records, int columns = Ledger::header().size())
{
    static const QRegularExpression field(QStringLiteral("(?:^|,)(\"(?:[^\"]|\"\")*\"|[^,\"]*)"));
    const QStringList lines = QString::fromUtf8(TestBytes::readFile(path)).split("\r\n");
    bool whole = lines.size() > 1 && lines.last().isEmpty() && lines.first() == Ledger::header().mid(0, columns).join(',');
    for (int i = 1; i + 1 < lines.size(); ++i) {
        QStringList fields;
        int parsed = 0;
        for (auto it = field.globalMatch(lines.at(i)); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            const QString text = match.captured(1);
            parsed += match.capturedLength();
            fields.append(text.startsWith('"') ? text.mid(1, text.size() - 2).replace("\"\"", "\"") : text);
        }
        whole = whole && parsed == lines.at(i).size() && fields.size() == columns;
        records->append(fields);
    }
    return whole;
}

enum Column { Time, Port, Vid, Serial, Hardware, FirmwareBefore, File, Md5, FirmwareAfter, Outcome, ExitCode, Seconds,
              Source };

// Steps the bench on the main thread while the station runs there: each step
// waits for its condition. Interrupts twice when the steps take too long, so
// a broken station fails the test instead of hanging it.
class BenchScript
{
public:
    // Each returns true when done: the next step goes on.
    explicit BenchScript(QList<std::function<bool()>> steps) : m_steps(std::move(steps))
    {
        m_deadline.start();
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            while (!m_steps.isEmpty() && m_steps.first()())
                m_steps.removeFirst();
            if (!m_steps.isEmpty() && m_deadline.hasExpired(120000)) {
                m_timer.stop();
                InterruptWatcher::deliver(SIGINT);
                InterruptWatcher::deliver(SIGINT);
            }
        });
        m_timer.start(10);
    }
    bool finished() const { return m_steps.isEmpty(); }

private:
    QList<std::function<bool()>> m_steps;
    QTimer m_timer;
    QElapsedTimer m_deadline;
};
} // namespace

// Several devices: at once, each on a link, worker and thread of its own;
// one after another in station mode; and the ledger they write.
class TestFlashDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }

    // Four devices with --all, a fifth attached once the run is under way. The
    // second stops answering mid-transfer (its simulator's thread is held
    // there); the others, upgraded and verified at the same time, finish all
    // the same, and the ledger gets one whole line per device.
    void oneFailingMidTransfer_theOthersSucceed()
    {
        constexpr int Count = 4;
        std::vector<std::unique_ptr<BenchDevice>> devices;
        const auto ports = std::make_shared<BenchPorts>();
        for (int i = 0; i <= Count; ++i) {
            DeviceIdentity identity = withSerial(QByteArray("SN10") + QByteArray::number(i));
            if (i == 0)
                identity.hardwareVersion = "HW \"B\", rev 2"; // a field the ledger must quote
            devices.emplace_back(new BenchDevice(identity));
            QVERIFY(devices.back()->start());
            devices.back()->sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);
            ports->attach(*devices.back());
        }
        BenchDevice &late = *devices.back();
        late.sim.vanish();
        onRequest(devices.front()->sim, AR_CMD_SENDFILE_START, 1, [&late] { late.sim.reappear(); });
        QSemaphore stalled; // the second device's simulator thread is held at its fifth data frame
        onRequest(devices.at(1)->sim, AR_CMD_SENDFILE_DATA, 5, [&stalled] { stalled.tryAcquire(1, 120000); });
        const QByteArray image = pattern(48 * 1024, 7);
        const QString ledger = m_world.path(QStringLiteral("devices.csv"));
        const CommandRun run = runCommand(
            {"upgrade", m_world.writeFile(Image, image), "--verify", "--ledger", ledger, "--all"}, ports);
        stalled.release();

        QCOMPARE(run.exitCode, 5);
        QVERIFY(late.sim.frames().isEmpty());
        QList<QStringList> records;
        QVERIFY(readLedger(ledger, &records));
        QCOMPARE(records.size(), Count);
        QMap<QString, QStringList> recordOf;
        for (const QStringList &record : qAsConst(records))
            recordOf.insert(record.at(Port), record);
        const QString md5 = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex());
        for (int i = 0; i < Count; ++i) {
            const BenchDevice &device = *devices.at(i);
            const QString port = device.sim.linkPath(), serial = QString::fromLatin1(device.sim.identity().serialNumber);
            const int exitCode = i == 1 ? 5 : 0;
            QCOMPARE(device.received(), exitCode == 0 ? QList<QByteArray>{image} : QList<QByteArray>{});
            QCOMPARE(run.err.contains(port), exitCode != 0);
            // Each device's summary line names its change and outcome, the run's its exit code.
            const QRegularExpression line(
                "^" + QRegularExpression::escape(port + ' ' + serial + ": Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, ")
                    + (exitCode == 0 ? "verified" : "failed: .+") + ", \\d+\\.\\d s$",
                QRegularExpression::MultilineOption);
            QVERIFY2((exitCode == 0 ? run.out : run.err).contains(line), qPrintable(run.out + run.err));
            QVERIFY(run.out.contains(port + (exitCode == 0 ? ": upgraded\n" : ": failed (exit 5)\n")));
            const QStringList record = recordOf.value(port);
            QCOMPARE(record.mid(Port, 8), (QStringList{port, "7536", serial, device.sim.identity().hardwareVersion,
                                                      "Merlow_R_Sky_1_0_5", Image, md5,
                                                      exitCode == 0 ? "Merlow_R_Sky_1_0_6" : ""}));
            QCOMPARE(record.value(Outcome) == QLatin1String("verified"), exitCode == 0);
            QCOMPARE(record.value(ExitCode).toInt(), exitCode);
            const QDateTime time = QDateTime::fromString(record.value(Time), Qt::ISODate);
            QVERIFY2(time.isValid() && time.timeSpec() == Qt::UTC && time.secsTo(QDateTime::currentDateTimeUtc()) < 600
                         && record.value(Seconds).toDouble() > 0, qPrintable(record.join(',')));
        }
    }

    void ledger_concurrentAppendsKeepLinesWhole_data()
    {
        QTest::addColumn<int>("columns"); // of a ledger begun before; 0: a new ledger
        QTest::newRow("a new ledger") << 0;
        QTest::newRow("one begun before its last column") << Ledger::header().size() - 1;
    }

    // Devices finishing at once, and two runs on the same file, write whole
    // lines under one header, as wide as the header a ledger was begun with.
    void ledger_concurrentAppendsKeepLinesWhole()
    {
        QFETCH(int, columns);
        constexpr int Writers = 8, LinesEach = 50;
        const QString path = m_world.path(QStringLiteral("concurrent.csv"));
        QFile::remove(path);
        if (columns > 0)
            QVERIFY(TestBytes::writeFile(path, Ledger::line(Ledger::header().mid(0, columns)).toUtf8()));
        Ledger runs[2];
        QString error;
        QVERIFY2(runs[0].open(path, &error) && runs[1].open(path, &error), qPrintable(error));
        std::vector<std::thread> writers;
        for (int w = 0; w < Writers; ++w) {
            writers.emplace_back([&runs, w] {
                for (int i = 0; i < LinesEach; ++i) {
                    Ledger::Entry entry;
                    entry.time = QDateTime::currentDateTimeUtc();
                    entry.port = QStringLiteral("port%1").arg(w);
                    entry.serial = QString::number(i);
                    entry.outcome = QStringLiteral("text, \"quoted\", ") + QString(500, QLatin1Char('x'));
                    runs[w % 2].append(entry);
                }
            });
        }
        for (std::thread &writer : writers)
            writer.join();

        QList<QStringList> records;
        QVERIFY(readLedger(path, &records, columns > 0 ? columns : Ledger::header().size()));
        QCOMPARE(records.size(), Writers * LinesEach);
        for (const QStringList &record : qAsConst(records))
            QVERIFY(record.at(Outcome).startsWith(QLatin1String("text, \"quoted\", x")));
    }

    void ledger_recordsWhatTheDeviceReceived_data()
    {
        QTest::addColumn<bool>("changed"); // the file is overwritten in place during the transfer
        QTest::addColumn<int>("exitCode");
        QTest::newRow("unchanged") << false << 0;
        QTest::newRow("overwritten during the transfer") << true << 4;
    }

    // The ledger's and the JSON result's MD5 is the file's as pinned when the
    // upgrade started: that of the bytes the device accepted, and a file changed
    // under the command never ends as upgraded (the engine's tests change it at
    // every step).
    void ledger_recordsWhatTheDeviceReceived()
    {
        QFETCH(bool, changed);
        QFETCH(int, exitCode);
        BenchDevice device;
        QVERIFY(device.start());
        const QByteArray image = pattern(100000, 5);
        const QString path = m_world.writeFile(Image, image), ledger = m_world.path(QStringLiteral("changed.csv"));
        QFile::remove(ledger);
        auto overwritten = std::make_shared<std::atomic<bool>>(false);
        if (changed)
            onRequest(device.sim, AR_CMD_SENDFILE_DATA, 2,
                      [=] { overwritten->store(TestBytes::change(path, TestBytes::Change::OverwriteInPlace)); });
        const CommandRun run = runCommand(QStringList{"upgrade", path, "--json", "--ledger", ledger}
                                          + device.portArguments());
        QCOMPARE(overwritten->load(), changed);
        QVERIFY2(run.exitCode == exitCode, qPrintable(QStringLiteral("exit %1: %2").arg(run.exitCode).arg(run.err)));

        const QString pinned = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex());
        QList<QStringList> records;
        QVERIFY(readLedger(ledger, &records));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(Md5), pinned);
        QCOMPARE(records.first().value(ExitCode).toInt(), exitCode);
        bool parsed = false;
        const QList<QJsonObject> results = CommandRun::ofType(run.events(&parsed), "result");
        QVERIFY(parsed && results.size() == 1);
        QCOMPARE(string(results.first(), "fileMd5"), pinned);
        QCOMPARE(number(results.first(), "exitCode"), exitCode);
        QCOMPARE(device.received(), changed ? QList<QByteArray>{} : QList<QByteArray>{image});
        QCOMPARE(device.requestsOf(AR_CMD_UPGRADE_STATUS).isEmpty(), changed);
        QCOMPARE(string(results.first(), "text").contains(QLatin1String("changed during the upgrade")), changed);
    }

    void station_devicesArriveOneAfterAnother_data()
    {
        QTest::addColumn<bool>("named"); // each device in turn on one port named with --port, unknown to the system
        QTest::newRow("recognised ports") << false;
        QTest::newRow("one named port") << true;
    }

    // A is upgraded, then taken away and brought back (as after its restart):
    // left alone. B fails with a numbered failure, C is upgraded; then Ctrl-C.
    void station_devicesArriveOneAfterAnother()
    {
        QFETCH(bool, named);
        BenchDevice a(withSerial("SN2001")), b(withSerial("SN2002")), c(withSerial("SN2003"));
        QVERIFY(a.start() && b.start() && c.start());
        b.sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, UPGRATE_ERR_BAD_FILE}});
        const auto ports = std::make_shared<BenchPorts>();
        const QString bench = m_world.path(QStringLiteral("bench"));
        const auto attach = [&](const BenchDevice &device, bool attached = true) {
            if (!named)
                return ports->attach(device, attached);
            QFile::remove(bench);
            QVERIFY(!attached || QFile::link(device.sim.linkPath(), bench));
        };
        const QString ledger = m_world.path(QStringLiteral("station.csv"));
        QFile::remove(ledger);
        const QString path = m_world.writeFile(Image, pattern(9000, 13));
        const auto identityRequests = [&a] { return a.requestsOf(AR_COMMAND_FIND_DEVICE).size(); };
        const auto ledgerLines = [&ledger] {
            QList<QStringList> records;
            readLedger(ledger, &records); // a line being written is not counted yet
            return records.size();
        };
        int looks = 0, requests = 0;
        // A device taken away; then the station's looks see its port empty.
        const auto away = [&](const BenchDevice &device) { attach(device, false); looks = ports->mainLooks(); };
        const auto seenAway = [&] { return ports->mainLooks() >= looks + 2; };
        BenchScript script({
            [&] { attach(a); return true; },
            [&] { return ledgerLines() == 1; },
            [&] { away(a); return true; }, seenAway,
            [&] { requests = identityRequests(); attach(a); return true; },
            [&] { return identityRequests() > requests; },
            [&] { away(a); return true; }, seenAway,
            [&] { attach(b); return true; },
            [&] { return ledgerLines() == 2; },
            [&] { away(b); return true; }, seenAway,
            [&] { attach(c); return true; },
            [&] { return ledgerLines() == 3; },
            [&] { InterruptWatcher::deliver(SIGINT); return true; },
        });
        const QStringList port = named ? QStringList{"--port", bench, "--vid", "7536"} : QStringList{};
        const CommandRun run = runCommand(QStringList{"upgrade", path, "--watch", "--json", "--ledger", ledger} + port,
                                          ports);
        QVERIFY(script.finished());
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(ports->mainListings() == 0, named); // a named port is looked at alone
        for (const BenchDevice *device : {&a, &b, &c})
            QCOMPARE(device->sim.receivedFiles().size(), 1);

        bool parsed = false;
        const QList<QJsonObject> events = run.events(&parsed);
        QVERIFY(parsed);
        QMap<QString, int> results;
        QStringList leftAlone;
        for (const QJsonObject &event : events) {
            if (string(event, "event") == QLatin1String("result"))
                results.insert(string(event, "serial"), number(event, "exitCode"));
            else if (string(event, "phase") == QLatin1String("left-alone"))
                leftAlone.append(string(event, "serial"));
        }
        QCOMPARE(results, (QMap<QString, int>{{"SN2001", 0}, {"SN2002", 4}, {"SN2003", 0}}));
        QCOMPARE(leftAlone, QStringList{"SN2001"});
        QCOMPARE(events.last(),
                 (QJsonObject{{"event", "summary"}, {"upgraded", 2}, {"upToDate", 0}, {"failed", 1}, {"skipped", 0}, {"dryRun", 0}}));
    }

    void mixedUnits_eachGetsItsOwnImage_data()
    {
        QTest::addColumn<QString>("source"); // "folder" or "zip"
        QTest::addColumn<bool>("station");
        QTest::addColumn<QByteArray>("airFirmware");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("airGetsItsImage");
        const QByteArray old("Merlow_R_Sky_1_0_5"), current("Merlow_R_Sky_1_0_6");
        QTest::newRow("from a folder, at once") << "folder" << false << old << QStringList{"--json"} << true;
        QTest::newRow("from a folder, one after another") << "folder" << true << old << QStringList{"--json"} << true;
        QTest::newRow("from a zip, the air unit up to date") << "zip" << false << current << QStringList{"--json"}
                                                             << false;
        QTest::newRow("from a zip, the air unit up to date, one after another") << "zip" << true << current
                                                                                << QStringList{"--json"} << false;
        QTest::newRow("from a zip, up to date but reflashed") << "zip" << false << current
                                                              << QStringList{"--json", "--reflash"} << true;
        QTest::newRow("from a zip, the air unit up to date, plain lines") << "zip" << false << current << QStringList{}
                                                                          << false;
        QTest::newRow("dry run") << "zip" << false << old << QStringList{"--dry-run"} << false;
    }

    // An air and a ground unit from one folder or zip: each gets its own
    // newest image, at once or one after another in station mode, whose
    // summary tells a unit up to date from one upgraded.
    void mixedUnits_eachGetsItsOwnImage()
    {
        QFETCH(QString, source);
        QFETCH(bool, station);
        QFETCH(QByteArray, airFirmware);
        QFETCH(QStringList, options);
        QFETCH(bool, airGetsItsImage);
        DeviceIdentity airUnit = withSerial("SN3001"), groundUnit = withSerial("SN3002");
        airUnit.firmware = airFirmware;
        groundUnit.firmware = "Merlow_R_Gnd_1_0_5";
        groundUnit.vendorId = AR_FPV_BOARD_TYPE_GT_GND;
        BenchDevice air(airUnit), ground(groundUnit);
        QVERIFY(air.start() && ground.start());
        const QStringList files{"Merlow_R_Gnd_1_0_6.img=i1", "Merlow_R_Sky_1_0_4.img=i2", "gnd/Merlow_R_Gnd_1_0_7.img=i3",
                                "sky/Merlow_R_Sky_1_0_6.img=i4", "notes.txt"};
        const QString path = m_world.path(QStringLiteral("release-%1").arg(QTest::currentDataTag()).replace(' ', '-'))
                             + (source == QLatin1String("zip") ? ".zip" : "");
        QVERIFY(source == QLatin1String("zip") ? FirmwareShelves::writeZip(path, files)
                                               : FirmwareShelves::writeFolder(path, files));
        const QString ledger = path + ".csv";
        const auto ports = std::make_shared<BenchPorts>();
        const auto ledgerLines = [&ledger] {
            QList<QStringList> records;
            readLedger(ledger, &records);
            return records.size();
        };
        if (!station) { // --all takes the devices attached at the start
            ports->attach(air);
            ports->attach(ground);
        }
        BenchScript script(station ? QList<std::function<bool()>>{
                               [&] { ports->attach(air); return true; }, [&] { return ledgerLines() == 1; },
                               [&] { ports->attach(ground); return true; }, [&] { return ledgerLines() == 2; },
                               [&] { InterruptWatcher::deliver(SIGINT); return true; }}
                                   : QList<std::function<bool()>>{});
        const CommandRun run = runCommand(QStringList{"upgrade", path, "--ledger", ledger, station ? "--watch" : "--all"}
                                              + options, ports);
        QVERIFY(script.finished());
        QCOMPARE(run.exitCode, 0);
        const QByteArray airImage = FirmwareShelves::content(files.at(3));
        const bool dryRun = options.contains("--dry-run");
        QCOMPARE(air.received(), airGetsItsImage ? QList<QByteArray>{airImage} : QList<QByteArray>{});
        QCOMPARE(ground.received(), dryRun ? QList<QByteArray>{} : QList<QByteArray>{FirmwareShelves::content(files.at(2))});
        if (dryRun) { // each device's file and why, in plain lines; nothing sent, nothing recorded
            const QString port = air.sim.linkPath();
            for (const QString &line : {port + ": Merlow_R_Sky_1_0_6.img from " + QFileInfo(path).fileName()
                                            + ": 1_0_5 → 1_0_6 (single-image)\n",
                                        QString("    gnd/Merlow_R_Gnd_1_0_7.img: for another device\n"),
                                        QString("    Merlow_R_Sky_1_0_4.img: older than the device's firmware\n"),
                                        port + " SN3001: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, dry run: nothing sent"})
                QVERIFY2(run.out.contains(line), qPrintable(run.out));
            QCOMPARE(ledgerLines(), 0);
            return;
        }
        if (!options.contains("--json")) { // the summary tells a unit up to date from one upgraded
            for (const QString &line : {air.sim.linkPath() + ": up to date\n", ground.sim.linkPath() + ": upgraded\n"})
                QVERIFY2(run.out.contains(line), qPrintable(run.out));
            return;
        }
        bool parsed = false;
        const QList<QJsonObject> events = run.events(&parsed);
        QVERIFY(parsed);
        for (const BenchDevice *device : {&air, &ground}) {
            const QList<QJsonObject> rules = CommandRun::ofType(events, "rules", device->sim.linkPath());
            QCOMPARE(rules.size(), 1);
            const QString chosen = device == &air ? "sky/Merlow_R_Sky_1_0_6.img" : "gnd/Merlow_R_Gnd_1_0_7.img";
            QCOMPARE(string(rules.first(), "entry"), chosen);
            QCOMPARE(rules.first().value("source").toObject().value("kind").toString(), source == "zip" ? "archive" : "folder");
            QCOMPARE(rules.first().value("candidates").toArray().size(), 4);
        }
        QList<QStringList> records;
        QVERIFY(readLedger(ledger, &records));
        QCOMPARE(records.size(), 2);
        for (const QStringList &record : qAsConst(records)) {
            const bool isAir = record.at(Serial) == QLatin1String("SN3001");
            QCOMPARE(record.at(File), isAir ? "sky/Merlow_R_Sky_1_0_6.img" : "gnd/Merlow_R_Gnd_1_0_7.img");
            QCOMPARE(record.at(Source), path);
            QCOMPARE(record.at(Outcome) == QLatin1String("up-to-date"), isAir && !airGetsItsImage);
            QCOMPARE(record.at(ExitCode), QString("0"));
        }
        if (station)
            QCOMPARE(events.last(), (QJsonObject{{"event", "summary"}, {"upgraded", airGetsItsImage ? 2 : 1},
                                                 {"upToDate", airGetsItsImage ? 0 : 1}, {"failed", 0},
                                                 {"skipped", 0}, {"dryRun", 0}}));
    }

private:
    FlashWorld m_world;
};

QTEST_GUILESS_MAIN(TestFlashDevices)
#include "tst_flashdevices.moc"
