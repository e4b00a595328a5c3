#include "flashbench.h"
#include "packagebuilder.h"
#include "portfinder.h"
#include "upgraderun.h"

#include <QCryptographicHash>
#include <QtTest>
#include <sys/stat.h>

using namespace FlashBench;

// What stands under a row's file name.
enum class FileKind { Image, Missing, Pipe };

Q_DECLARE_METATYPE(FileKind)

// The command and one device: its command line, the runs that end before
// anything is sent, an upgrade's events, outcomes and verified result.
class TestFlashCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_world.setUp()); }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
        QTest::newRow("version, short") << QStringList{"-V"} << 0;
        QTest::newRow("no command") << QStringList{} << 1;
        QTest::newRow("unknown command") << QStringList{"flash"} << 1;
        QTest::newRow("upgrade without a file") << QStringList{"upgrade"} << 1;
        QTest::newRow("list with a file") << QStringList{"list", "x.img"} << 1;
        QTest::newRow("port without vid") << QStringList{"info", "--port", "/dev/null"} << 1;
        QTest::newRow("ports and vids do not pair")
            << QStringList{"info", "--port", "a", "--port", "b", "--port", "c", "--vid", "1", "--vid", "2"} << 1;
        QTest::newRow("--all with --port") << QStringList{"upgrade", "x.img", "--all", "--port", "a", "--vid", "1"} << 1;
        QTest::newRow("--watch with --all") << QStringList{"upgrade", "x.img", "--watch", "--all"} << 1;
        QTest::newRow("--verify without upgrade") << QStringList{"info", "--verify"} << 1;
        QTest::newRow("--timeout without upgrade") << QStringList{"info", "--timeout", "30"} << 1;
        QTest::newRow("--timeout of no time") << QStringList{"upgrade", "x.img", "--timeout", "0"} << 1;
        QTest::newRow("--timeout of no number") << QStringList{"upgrade", "x.img", "--timeout", "soon"} << 1;
    }

    // Help and version need no device and no display; a usage error says so on
    // standard error only.
    void usage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const CommandRun run = runCommand(arguments);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out.isEmpty(), exitCode != 0);
        QCOMPARE(run.err.isEmpty(), exitCode == 0);
        if (arguments == QStringList{"--help"}) {
            for (int code = 0; code <= 6; ++code)
                QVERIFY2(run.out.contains(QRegularExpression(QStringLiteral("\\n  %1  \\S").arg(code))),
                         qPrintable(QStringLiteral("exit code %1 is not documented").arg(code)));
            QVERIFY(!run.out.contains(QLatin1String("clock-factor")));
            // The short forms; a station on a named port, the question and the summary line.
            for (const char *text : {"-h, --help", "-V, --version", "-y, --yes", "-p, --port", "with --port, each device",
                                     "→ Merlow_R_Sky_1_0_6? [y/N]", "not verified: REASON"})
                QVERIFY2(run.out.contains(QString::fromUtf8(text)), text);
        } else if (exitCode == 0) {
            QVERIFY(QRegularExpression(QStringLiteral("^tavio-flash \\d+\\.\\d+\\.\\d+\\n$")).match(run.out).hasMatch());
        }
    }

    void endsBeforeTheTransfer_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<FileKind>("kind");
        QTest::addColumn<QStringList>("options"); // DEVICE: the simulated device's port
        QTest::addColumn<bool>("silent");         // the device answers nothing
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("asked");          // the device was asked who it is: the name alone did not settle it
        const QStringList named{"--port", "DEVICE", "--vid", "7536"}, unknown{"--port", "DEVICE", "--vid", "4321"};
        const QStringList absent{"--port", m_world.path("absent"), "--vid", "7536"};
        const FileKind image = FileKind::Image;
        QTest::newRow("refused name") << "Merlow-R-Sky-1.0.6.bin" << image << named << false << 2 << false;
        QTest::newRow("version too low") << "Merlow_R_Sky_1_0_4.img" << image << named << false << 2 << true;
        QTest::newRow("unreadable file") << Image << FileKind::Missing << named << false << 2 << false;
        QTest::newRow("named pipe, never opened") << Image << FileKind::Pipe << named << false << 2 << false;
        QTest::newRow("named port absent") << Image << image << absent << false << 3 << false;
        QTest::newRow("none attached") << Image << image << QStringList{} << false << 3 << false;
        QTest::newRow("vid not recognised") << Image << image << unknown << false << 3 << false;
        QTest::newRow("silent device") << Image << image << named << true << 5 << true;
        const auto ledger = [&named](const QString &path) { return named + QStringList{"--ledger", path}; };
        QTest::newRow("ledger in no such folder") << Image << image << ledger(m_world.path("absent/l.csv")) << false << 1
                                                  << false;
        QTest::newRow("ledger is a folder") << Image << image << ledger(QDir::tempPath()) << false << 1 << false;
        QTest::newRow("ledger on a full disk") << Image << image << ledger("/dev/full") << false << 1 << false;
    }

    // Each says why on standard error, in English, within a bounded time; a
    // JSON result, when there is one, carries the same exit code.
    void endsBeforeTheTransfer()
    {
        QFETCH(QString, file);
        QFETCH(FileKind, kind);
        QFETCH(QStringList, options);
        QFETCH(bool, silent);
        QFETCH(int, exitCode);
        QFETCH(bool, asked);
        BenchDevice device;
        QVERIFY(device.start());
        device.sim.setSilent(silent);
        const QTemporaryDir folder; // a name of its own for each row
        const QString path = folder.filePath(file);
        if (kind == FileKind::Pipe)
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind != FileKind::Missing)
            QVERIFY(TestBytes::writeFile(path, pattern(4096, 1)));
        QElapsedTimer timer;
        timer.start();
        const CommandRun run = runCommand(QStringList{"upgrade", path, "--json"}
                                          + options.replaceInStrings(QStringLiteral("DEVICE"), device.sim.linkPath()));
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY(timer.elapsed() < 60000); // far below any limit of an upgrade
        QCOMPARE(UpgradeRun::phases(device.commands()),
                 asked ? QList<quint32>{AR_COMMAND_FIND_DEVICE} : QList<quint32>{});
        QVERIFY(device.sim.receivedFiles().isEmpty());
        QCOMPARE(device.sim.rebootCount(), 0);
        QVERIFY2(isEnglish(run.err), qPrintable(run.err));
        bool parsed = false;
        const QList<QJsonObject> results = CommandRun::ofType(run.events(&parsed), "result");
        QVERIFY(parsed && results.size() <= 1);
        for (const QJsonObject &result : results)
            QCOMPARE(number(result, "exitCode"), exitCode);
    }

    void info_and_list_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("options"); // DEVICE: the device's port; LINK: a relative path to it
                                                  // (DOTTED: one with "." and "..")
        QTest::addColumn<bool>("systemLists");    // the system's port list holds the device with its identity
        QTest::addColumn<int>("exitCode");
        const QStringList vid{"--vid", "7536"};
        QTest::newRow("info") << "info" << QStringList{"--port", "DEVICE"} + vid << false << 0;
        QTest::newRow("info, short forms") << "info" << QStringList{"-y", "-p", "DEVICE"} + vid << false << 0;
        QTest::newRow("vid from the system") << "info" << QStringList{"--port", "DEVICE"} << true << 0;
        QTest::newRow("vid from the system, relative path") << "info" << QStringList{"--port", "LINK"} << true << 0;
        QTest::newRow("list, vid from the system") << "list" << QStringList{"--port", "LINK"} << true << 0;
        QTest::newRow("info, relative path") << "info" << QStringList{"--port", "LINK"} + vid << false << 0;
        QTest::newRow("info, relative path with dots") << "info" << QStringList{"--port", "DOTTED"} + vid << false << 0;
        QTest::newRow("list, relative path") << "list" << QStringList{"--port", "LINK"} + vid << false << 0;
        QTest::newRow("list, none attached") << "list" << QStringList{} << false << 3;
        QTest::newRow("list, none attached, JSON") << "list" << QStringList{"--json"} << false << 3;
        QTest::newRow("info, none attached, JSON") << "info" << QStringList{"--json"} << false << 3;
    }

    // A port named by a path relative to the working directory is the same
    // port for every command; its vendor identifier may come from the system.
    // No device is said on standard error, with --json also as the one event.
    void info_and_list()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, options);
        QFETCH(bool, systemLists);
        QFETCH(int, exitCode);
        BenchDevice device;
        QVERIFY(device.start());
        const QString link = QStringLiteral("run/device"); // the working directory is the world's folder
        QVERIFY(QDir().mkpath(QStringLiteral("run")));
        QFile::remove(link);
        QVERIFY(QFile::link(device.sim.linkPath(), link));
        options.replaceInStrings(QRegularExpression("^DEVICE$"), device.sim.linkPath())
            .replaceInStrings(QRegularExpression("^LINK$"), link)
            .replaceInStrings(QRegularExpression("^DOTTED$"), "./run/../" + link);
        const auto system = std::make_shared<FixedPortLister>(
            systemLists ? QList<SerialPortDescription>{device.port()} : QList<SerialPortDescription>{});
        const CommandRun run = runCommand(QStringList{command} + options, system);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode != 0) {
            QCOMPARE(run.err, QStringLiteral("no device found\n"));
            const QJsonObject none{{"event", "result"}, {"port", ""}, {"serial", ""},
                                   {"exitCode", 3},     {"ok", false}, {"text", "no device found"}};
            bool parsed = false;
            QCOMPARE(run.events(&parsed), options.contains("--json") ? QList<QJsonObject>{none} : QList<QJsonObject>{});
            QVERIFY(parsed);
            return;
        }
        if (command == QLatin1String("info")) {
            for (const char *field : {"SN0001", "Merlow_R_Sky_1_0_5", "HW_V1.0"})
                QVERIFY2(run.out.contains(QLatin1String(field)), field);
            // The port is told as the path it is, whatever way it was written.
            QVERIFY2(options.contains(device.sim.linkPath()) || run.out.contains(QDir::current().filePath(link) + ':'),
                     qPrintable(run.out));
            return;
        }
        const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1); // the system's port and the named one are one device
        QCOMPARE(QFileInfo(lines.first().section(QLatin1Char('\t'), 0, 0)).canonicalFilePath(),
                 QFileInfo(device.sim.linkPath()).canonicalFilePath());
    }

    void list_showsRecognisedDevices()
    {
        const auto attached = std::make_shared<FixedPortLister>(QList<SerialPortDescription>{
            {QStringLiteral("ttyUSB0"), QString(), 1234}, // not a device of ours
            {QStringLiteral("ttyACM0"), QString(), AR_FPV_BOARD_TYPE_GT_GND},
            {QStringLiteral("ttyACM1"), QLatin1String(PortFinder::DeviceManufacturer), 4321}});
        const CommandRun list = runCommand({"list"}, attached);
        QCOMPARE(list.exitCode, 0);
        QCOMPARE(list.out, QStringLiteral("ttyACM0\t7535\tMerlow Gnd\nttyACM1\t4321\tMerlow FPV\n"));
    }

    void upgrade_data()
    {
        QTest::addColumn<int>("vid");             // one the program does not know is named with its manufacturer
        QTest::addColumn<QList<int>>("verdicts"); // the device's on each file end, then its checksum's
        QTest::addColumn<int>("failureStatus");   // 0: the default, successful status walk
        QTest::addColumn<QString>("after");       // --verify: the device restarts with new or old firmware, or
                                                  // silent; empty: no --verify
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("sent");            // files the device received
        QTest::addColumn<QStringList>("phases");
        QTest::addColumn<QString>("outcome"); // the summary's words for it; ending in a space: a reason follows
        const int sky = AR_FPV_BOARD_TYPE_GT_SKY, package = AR_FPV_BOARD_TYPE_SKY_EX6; // that line takes packages
        const QStringList start{"connect", "restart"}, file{"announce", "transfer", "verdict"}, status{"device-upgrade"};
        const QStringList image = start + file + status, verified = image + QStringList{"verify"};
        const QList<int> none;
        const QString upgraded = "upgraded", failed = "failed: ", unverified = "not verified: ";
        QTest::newRow("single image") << sky << none << 0 << "" << 0 << 1 << image << upgraded;
        QTest::newRow("recognised by its manufacturer") << 4321 << none << 0 << "" << 0 << 1 << image << upgraded;
        QTest::newRow("package") << package << none << 0 << "" << 0 << 2
                                 << image + QStringList{"restart"} + file + status + QStringList{"restart"} << upgraded;
        QTest::newRow("refused every time") << sky << QList<int>{-1, -1, -1, -1, -1, -1} << 0 << "" << 4 << 6
                                            << start + file + file + file + file + file + file << failed;
        // The flash error's text is the command's own: the window keeps it in Chinese in English too.
        QTest::newRow("numbered failure") << sky << none << int(UPGRATE_ERR_FLASH_ERR) << "" << 4 << 1 << image << failed;
        QTest::newRow("verified: new firmware") << sky << none << 0 << "new" << 0 << 1 << verified << "verified";
        QTest::newRow("verify: old firmware") << sky << none << 0 << "old" << 6 << 1 << verified << unverified;
        QTest::newRow("verify: no answer after restart") << sky << none << 0 << "silent" << 6 << 1 << verified
                                                         << unverified;
    }

    // Every event carries the device's port (and its serial number once known),
    // texts are the English catalogue's, the phases follow the sequence. With
    // --verify the restarted device's firmware must be the one the file's name
    // announces. Another recognised device is listed first by the system: the
    // link named to the device never takes its port, before or after its reboot;
    // it looks at its own port alone and never lists the system's.
    void upgrade()
    {
        QFETCH(int, vid);
        QFETCH(QList<int>, verdicts);
        QFETCH(int, failureStatus);
        QFETCH(QString, after);
        QFETCH(int, exitCode);
        QFETCH(int, sent);
        QFETCH(QStringList, phases);
        QFETCH(QString, outcome);
        const bool package = vid == AR_FPV_BOARD_TYPE_SKY_EX6;
        DeviceIdentity identity;
        identity.vendorId = quint16(vid);
        BenchDevice device(identity), other;
        QVERIFY(device.start() && other.start());
        device.sim.setVerdicts(verdicts);
        if (failureStatus != 0)
            device.sim.setStatusScript({{0, STAT_VERIFY_IMAGE}, {30, failureStatus}});
        device.sim.setAfterUpgrade(after == "old" ? SimScript::AfterUpgrade::RestartWithOldFirmware
                                   : after == "new" || after == "silent" ? SimScript::AfterUpgrade::RestartWithNewFirmware
                                                                         : SimScript::AfterUpgrade::Stay);
        if (after == QLatin1String("silent"))
            onSelfRestart(device.sim, [&device] { device.sim.setSilent(true); });
        // Files of whole segments: each ends with an empty frame that repeats the
        // count. Every answer comes late, so the transfer cannot be faster than a
        // segment per delay.
        constexpr int Segment = 1024, ReplyDelayMs = 5;
        device.sim.setReplyDelay(ReplyDelayMs);
        QByteArray file = pattern(20 * Segment, 3);
        QList<QByteArray> expected = QVector<QByteArray>(sent, file).toList();
        if (package) {
            PackageBuilder builder;
            builder.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
            QVERIFY(builder.addPart(IMG_TAREL_APP, pattern(3 * Segment, 1))
                    && builder.addPart(IMG_TAREL_FPGA, pattern(2 * Segment, 2)));
            file = builder.bytes();
            expected = {pattern(2 * Segment, 2), pattern(3 * Segment, 1)}; // the parts go last first
        }
        QStringList arguments = QStringList{"upgrade", m_world.writeFile(Image, file), "--json"} + device.portArguments();
        if (!PortFinder::isRecognisedVendor(vid))
            arguments += {"--manufacturer", PortFinder::DeviceManufacturer};
        arguments += after.isEmpty() ? QStringList{} : QStringList{"--verify"};
        const auto system = std::make_shared<FixedPortLister>(QList{other.port()});
        const CommandRun run = runCommand(arguments, system);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(device.received(), expected);
        QVERIFY(other.sim.frames().isEmpty());
        QCOMPARE(system->listings(), 0);
        QCOMPARE(m_upgrade_device_vid.load(), 0); // the window's target is not the command's
        QCOMPARE(run.err.contains(device.sim.linkPath()), exitCode != 0); // a failure is told to a human too

        bool parsed = false;
        const QList<QJsonObject> events = run.events(&parsed);
        QVERIFY(parsed);
        QStringList seen;
        for (const QJsonObject &event : events) {
            QCOMPARE(string(event, "port"), device.sim.linkPath());
            // The first event, the connect phase, comes before the identity.
            QCOMPARE(string(event, "serial"), &event == &events.first() ? QString() : QStringLiteral("SN0001"));
            if (string(event, "event") == QLatin1String("phase"))
                seen.append(string(event, "phase"));
        }
        QCOMPARE(seen, phases);
        // Every wait is told with its phase, the seconds so far and its limit.
        QMap<QString, int> limits;
        for (const QJsonObject &wait : CommandRun::ofType(events, "wait")) {
            QVERIFY(number(wait, "seconds") >= 0);
            limits.insert(string(wait, "phase"), number(wait, "limit"));
        }
        QCOMPARE(limits.value("restart"), 1235);
        QCOMPARE(limits.value("restart-check"), after.isEmpty() ? 0 : 305);
        const QJsonObject id = CommandRun::ofType(events, "identity").value(0);
        QCOMPARE(string(id, "firmware") + ' ' + string(id, "hardware"), QStringLiteral("Merlow_R_Sky_1_0_5 HW_V1.0"));
        QCOMPARE((QList<int>{number(id, "temperature"), number(id, "maxSegment")}), (QList<int>{45, Segment}));
        const QJsonObject rules = CommandRun::ofType(events, "rules").value(0);
        QVERIFY(rules.value("accepted").toBool());
        QCOMPARE(string(rules, "sequence"), package ? QStringLiteral("package") : QStringLiteral("single-image"));
        const auto progress = CommandRun::ofType(events, "progress");
        QSet<qint64> sizes; // of the files, or the package's parts, sent
        for (const QByteArray &sentFile : qAsConst(expected))
            sizes.insert(sentFile.size());
        QVERIFY(!progress.isEmpty());
        for (const QJsonObject &event : progress) {
            const qint64 bytes = qint64(event.value("bytes").toDouble()), total = qint64(event.value("total").toDouble());
            QVERIFY(bytes > 0 && bytes <= total && sizes.contains(total) && event.value("rate").toDouble() > 0);
            QVERIFY2(event.value("rate").toDouble() <= Segment * 1000.0 / ReplyDelayMs,
                     qPrintable(QString::number(event.value("rate").toDouble())));
            QCOMPARE(number(event, "percent"), int(bytes * 100 / total));
        }
        QCOMPARE(progress.last().value("bytes"), progress.last().value("total"));
        const auto statuses = CommandRun::ofType(events, "status");
        if (!package && phases.contains(QStringLiteral("device-upgrade"))) // the device's own upgrade, to its end
            QCOMPARE(number(statuses.value(statuses.size() - 1), "code"), failureStatus ? failureStatus : int(STAT_DONE));
        for (const QJsonObject &event : statuses + CommandRun::ofType(events, "result"))
            QVERIFY2(isEnglish(string(event, "text")), qPrintable(string(event, "text")));
        const QJsonObject result = events.last();
        QCOMPARE(string(result, "event"), QStringLiteral("result"));
        QCOMPARE(number(result, "exitCode"), exitCode);
        const QRegularExpression summary(
            "^" + QRegularExpression::escape(device.sim.linkPath() + " SN0001: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, "
                                             + outcome) + (outcome.endsWith(' ') ? ".+" : "") + ", \\d+\\.\\d s$");
        QVERIFY2(summary.match(string(result, "summary")).hasMatch(), qPrintable(string(result, "summary")));
        // The file as pinned at the start, what the device received.
        QCOMPARE(string(result, "fileMd5").toLatin1(), QCryptographicHash::hash(file, QCryptographicHash::Md5).toHex());
        if (!after.isEmpty()) {
            QCOMPARE(result.value("verified").toBool(), exitCode == 0);
            // What the restarted device reported, if it answered.
            const QString reported = QString::fromLatin1(device.sim.identity().firmware);
            QCOMPARE(string(result, "firmwareAfter"), after == "silent" ? QString() : reported);
        }
    }

    // A script that cannot wait for the protocol's limits bounds each device:
    // a device that never comes back from its restart ends when its time is up.
    void timeout_endsTheDevicesUpgrade()
    {
        BenchDevice device;
        QVERIFY(device.start());
        device.sim.setRebootDelay(24 * 3600 * 1000);
        const CommandRun run = runCommand(QStringList{"upgrade", m_world.writeFile(Image, pattern(4096, 1)), "--json",
                                                      "--timeout", "20"} + device.portArguments());
        QCOMPARE(run.exitCode, 5);
        bool parsed = false;
        const QJsonObject result = CommandRun::ofType(run.events(&parsed), "result").value(0);
        QVERIFY(parsed);
        QCOMPARE(string(result, "text"), QStringLiteral("The upgrade ran past the time it was given and was stopped."));
        QVERIFY2(string(result, "summary").contains(QLatin1String(", failed: The upgrade ran past the time")),
                 qPrintable(string(result, "summary")));
        QVERIFY(device.sim.receivedFiles().isEmpty());
    }

    void confirmation_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("answers");      // typed on the terminal at standard input
        QTest::addColumn<QList<bool>>("upgraded"); // each device, in the order asked; --yes: none asked
        QTest::addColumn<int>("exitCode");
        QTest::newRow("yes") << QStringList{} << "y\n" << QList<bool>{true} << 0;
        QTest::newRow("no") << QStringList{} << "n\n" << QList<bool>{false} << 5;
        QTest::newRow("no answer") << QStringList{} << "" << QList<bool>{false} << 5;
        QTest::newRow("--yes") << QStringList{"--yes"} << "n\n" << QList<bool>{true} << 0;
        QTest::newRow("each device in turn") << QStringList{} << "YES\nno\n" << QList<bool>{true, false} << 5;
    }

    // Asked once the device is identified, naming it and the firmware change,
    // one device at a time: the device asked first gets the first answer.
    void confirmation()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, answers);
        QFETCH(QList<bool>, upgraded);
        QFETCH(int, exitCode);
        std::vector<std::unique_ptr<BenchDevice>> bench;
        QStringList arguments{"upgrade", m_world.writeFile(Image, pattern(4096, 2))};
        for (int i = 1; i <= upgraded.size(); ++i) {
            bench.emplace_back(new BenchDevice(withSerial("SN000" + QByteArray::number(i))));
            QVERIFY(bench.back()->start());
            arguments += bench.back()->portArguments();
        }
        const CommandRun run = runCommand(arguments + options, std::make_shared<FixedPortLister>(), answers);
        QCOMPARE(run.exitCode, exitCode);
        static const QRegularExpression question(
            QStringLiteral("Upgrade (\\S+) (SN\\d+): Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6\\? \\[y/N\\] "));
        QList<bool> asked; // whether each device asked about was upgraded
        for (auto it = question.globalMatch(run.err); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            for (const auto &device : bench)
                if (device->sim.linkPath() == match.captured(1) && device->sim.identity().serialNumber == match.captured(2))
                    asked.append(!device->sim.receivedFiles().isEmpty());
        }
        QCOMPARE(asked, options.isEmpty() ? upgraded : QList<bool>{});
        const auto received = [](const auto &device) { return !device->sim.receivedFiles().isEmpty(); };
        QCOMPARE(int(std::count_if(bench.cbegin(), bench.cend(), received)), int(upgraded.count(true)));
    }

private:
    FlashWorld m_world;
};

QTEST_GUILESS_MAIN(TestFlashCommand)
#include "tst_flashcommand.moc"
