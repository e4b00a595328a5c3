#include "devicerestart.h"
#include "faultinjection.h"
#include "imagesteps.h"
#include "logcapture.h"
#include "memorydevicelink.h"
#include "testbytes.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"

#include <QElapsedTimer>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtTest>

// The engine against a device in memory: every way an upgrade can end, in
// milliseconds, with what the device received and what the user was told.
// The simulator suites run the same sequences through a real port.
namespace {
using Failure = MemoryDeviceLink::Failure;
using Kind = UpgradeOutcome::Kind;
using Script = MemoryDeviceLink::Script;

constexpr int FastFactor = 10000; // 120 s of standing still take 12 ms
const QString ImageName = QStringLiteral("Merlow_R_Gnd_1_0_6.img");
const QString TransferFailedHint = QStringLiteral("升级固件传输失败，请重启设备再次升级。");

Script script(Failure failure, unsigned command = AR_CMD_SENDFILE_DATA, int afterFrames = 0)
{
    Script s;
    s.failure = failure;
    s.command = command;
    s.afterFrames = afterFrames;
    return s;
}

// A healthy device but for one field of its script.
template <typename T>
Script with(T Script::*field, T value)
{
    Script s;
    s.*field = std::move(value);
    return s;
}

Script withVerdicts(const QVector<int> &verdicts) { return with(&Script::verdicts, verdicts); }
Script withStatuses(const QVector<ar_upgrade_status> &statuses) { return with(&Script::statuses, statuses); }
} // namespace
Q_DECLARE_METATYPE(Script)

class TestUpgradeEngine : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_log.reset(new LogCapture);
        m_dir.reset(new QTemporaryDir);
        m_emitted.clear();
    }

    void cleanup()
    {
        m_dir.reset();
        m_log.reset();
    }

    void upgrade_endsInOneOutcome_data()
    {
        QTest::addColumn<Script>("device");
        QTest::addColumn<int>("imageBytes");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<int>("filesSent"); // ends of file the device was sent
        QTest::addColumn<int>("restarts");  // requests to restart into the upgrade state

        const ar_upgrade_status progress{50, STAT_IN_PROGRESS, {}};
        const ar_upgrade_status done{100, STAT_DONE, {}};
        const int unconfirmed = 1 + DeviceRestart::RebootRepeats + 1, silent = Script::NoVerdict;
        const QString unusable = QStringLiteral("设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。");
        QTest::newRow("healthy") << Script() << 3000 << int(Kind::Succeeded) << QString() << 1 << 1;
        QTest::newRow("a whole number of segments") << Script() << 2048 << int(Kind::Succeeded) << QString() << 1 << 1;
        QTest::newRow("refused once, then taken") << withVerdicts({-1, 0}) << 3000 << int(Kind::Succeeded)
                                                  << QString() << 2 << 1;
        QTest::newRow("refused at every resend but the last") << withVerdicts(QVector<int>(ImageSteps::MaxResends, -1) << 0)
                                                              << 3000 << int(Kind::Succeeded) << QString()
                                                              << 1 + ImageSteps::MaxResends << 1;
        QTest::newRow("status to done") << withStatuses({{0, STAT_VERIFY_IMAGE, {}}, progress, done}) << 3000
                                        << int(Kind::Succeeded) << QString() << 1 << 1;
        QTest::newRow("empty file") << Script() << 0 << int(Kind::NotStarted)
                                    << QStringLiteral("升级固件文件为空！请检查！") << 0 << 0;
        QTest::newRow("data never acknowledged") << script(Failure::NoAnswer) << 3000 << int(Kind::TransferFailed)
                                                 << TransferFailedHint << 0 << 1;
        QTest::newRow("data acknowledged out of sequence")
            << script(Failure::WrongSequence) << 3000 << int(Kind::TransferFailed) << TransferFailedHint << 0 << 1;
        QTest::newRow("port lost in the transfer") << script(Failure::PortLost, 0, 2) << 3000
                                                   << int(Kind::TransferFailed) << TransferFailedHint << 0 << 1;
        QTest::newRow("no verdict") << withVerdicts({silent}) << 3000 << int(Kind::TransferFailed)
                                    << TransferFailedHint << 1 << 1;
        // The refusal before is no verdict on the resend: its wait runs out.
        QTest::newRow("refused, then no verdict") << withVerdicts({-1, silent}) << 3000 << int(Kind::TransferFailed)
                                                  << TransferFailedHint << 2 << 1;
        QTest::newRow("a verdict that is no refusal") << withVerdicts({5}) << 3000 << int(Kind::TransferFailed)
                                                      << TransferFailedHint << 1 << 1;
        QTest::newRow("refused every time") << withVerdicts({-1}) << 3000 << int(Kind::DeviceRefused)
                                            << TransferFailedHint << 1 + ImageSteps::MaxResends << 1;
        QTest::newRow("no segment length") << with(&Script::segmentLength, 0) << 3000 << int(Kind::TransferFailed) << unusable
                                           << 0 << 0;
        QTest::newRow("negative segment length") << with(&Script::segmentLength, -5) << 3000 << int(Kind::TransferFailed)
                                                 << unusable << 0 << 0;
        QTest::newRow("reboot never confirmed") << script(Failure::NeverReboots) << 3000 << int(Kind::NoReboot)
                                                << QStringLiteral("FPV设备无法正确重启，请重启设备并重试升级。") << 0
                                                << unconfirmed;
        QTest::newRow("not back after the reboot") << script(Failure::NotBack) << 3000 << int(Kind::NotBack)
                                                   << QStringLiteral("FPV设备重启后未能重新连接，请重启设备再次升级。")
                                                   << 0 << 1;
        QTest::newRow("status standing still") << withStatuses({progress}) << 3000 << int(Kind::StatusTimeout)
                                               << QStringLiteral("升级超时，请重启设备再次升级。") << 1 << 1;
        const ar_upgrade_status progressed{60, STAT_IN_PROGRESS, {}};
        Script replugged = script(Failure::Replugged, 0, 2);
        replugged.statuses = {progress, progress, progressed, done};
        QTest::newRow("unplugged in the device's upgrade, plugged in again") << replugged << 3000
                                                                             << int(Kind::Succeeded) << QString() << 1 << 1;
        Script unplugged = replugged;
        unplugged.failure = Failure::Unplugged;
        QTest::newRow("unplugged in the device's upgrade") << unplugged << 3000
                                                           << int(Kind::Disconnected) << Faults::Disconnected << 1 << 1;
        QTest::newRow("abnormal end") << withStatuses({progress, {-1, STAT_IN_PROGRESS, {}}}) << 3000
                                      << int(Kind::AbnormalEnd) << QStringLiteral("异常终止，请重启设备再次升级。") << 1 << 1;
        QTest::newRow("numbered failure") << withStatuses({progress, {0, UPGRATE_ERR_BOARD_TYPE, {}}}) << 3000
                                          << int(Kind::DeviceError)
                                          << QStringLiteral("升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！")
                                          << 1 << 1;
        Script unasked = script(Failure::FailureReport, 0, 2);
        unasked.statuses = {{0, UPGRATE_ERR_NO_SD, {}}};
        QTest::newRow("failure reported unasked in the transfer")
            << unasked << 3000 << int(Kind::DeviceError) << QStringLiteral("升级错误：未检测到SD卡！") << 0 << 1;
    }

    void upgrade_endsInOneOutcome()
    {
        QFETCH(Script, device);
        QFETCH(int, imageBytes);
        QFETCH(int, kind);
        QFETCH(QString, hint);
        QFETCH(int, filesSent);
        QFETCH(int, restarts);
        MemoryDeviceLink link(device);
        const QString path = writeImage(imageBytes);
        QElapsedTimer timer;
        timer.start();

        const UpgradeOutcome outcome = upgrade(link, path);

        QCOMPARE(int(outcome.kind), kind);
        QCOMPARE(outcome.hint, hint);
        QCOMPARE(m_emitted.size(), 1); // decided once, told once
        QCOMPARE(int(m_emitted.first().kind), kind);
        QCOMPARE(link.count(AR_CMD_SENDFILE_END), filesSent);
        // A resend goes from the announcement on: no new restart, no new upgrade
        // request; the one upgrade request comes before the first announcement.
        QCOMPARE(link.count(AR_COMMAND_GET_ACTIVE), restarts);
        QCOMPARE(link.count(AR_CMD_REMOTE_UPGRADE), link.commands().contains(AR_CMD_SENDFILE_START) ? 1 : 0);
        if (outcome.succeeded())
            QCOMPARE(link.fileData(), TestBytes::pattern(imageBytes));
        QCOMPARE(m_progress.contains(100), outcome.succeeded());
        QVERIFY(m_waiting.isEmpty() || m_waiting.last().isOver()); // a wait the user is told of is told over
        // The restart is one wait counting on from the first reboot request;
        // a device gone in its own upgrade is a wait of its own.
        QList<UpgradeWait::Phase> phases;
        UpgradeWait previous;
        for (const UpgradeWait &wait : qAsConst(m_waiting)) {
            if (wait.phase != previous.phase && !wait.isOver())
                phases.append(wait.phase);
            else if (!wait.isOver())
                QVERIFY(wait.seconds >= previous.seconds);
            previous = wait;
        }
        QCOMPARE(phases.count(UpgradeWait::Phase::Restart), restarts > 0 ? 1 : 0);
        QCOMPARE(phases.contains(UpgradeWait::Phase::Disconnected), device.failure == Failure::Unplugged
                                                                        || device.failure == Failure::Replugged);
        if (outcome.kind == Kind::NotBack) // its whole wait
            QVERIFY(timer.elapsed() >= ScaledClock(FastFactor).realMs(UpgradeChannel::ReconnectLimitMs));
        QCOMPARE(link.upgradeTarget(), 0); // the reset after every upgrade names no device
    }

    void restartCheck_comparesTheFirmwareTheDeviceReports_data()
    {
        QTest::addColumn<Script>("device");
        QTest::addColumn<int>("check");
        QTest::addColumn<QString>("summary");
        const Script other = with(&Script::firmwareAfter, QByteArray("Merlow_R_Gnd_1_0_5"));
        Script silent = script(Failure::NoAnswer, AR_COMMAND_FIND_DEVICE);
        QTest::newRow("announced version") << Script() << int(RestartCheck::Outcome::Verified)
                                           << QStringLiteral("已验证");
        QTest::newRow("the old version") << other << int(RestartCheck::Outcome::OtherFirmware)
                                         << QStringLiteral("未通过验证：重启后的设备报告固件 Merlow_R_Gnd_1_0_5，与 %1 的版本不符")
                                                .arg(ImageName);
        QTest::newRow("no answer") << silent << int(RestartCheck::Outcome::NoAnswer)
                                   << QStringLiteral("未通过验证：设备重启后没有应答");
    }

    void restartCheck_comparesTheFirmwareTheDeviceReports()
    {
        QFETCH(Script, device);
        QFETCH(int, check);
        QFETCH(QString, summary);
        MemoryDeviceLink link(device);

        const UpgradeOutcome outcome = upgrade(link, writeImage(3000), true);

        QVERIFY(outcome.succeeded());
        QVERIFY(outcome.restartChecked());
        QCOMPARE(int(outcome.check.outcome), check);
        QCOMPARE(outcome.summary(), summary);
        QCOMPARE(m_emitted.size(), 1);
        QVERIFY(link.count(AR_COMMAND_FIND_DEVICE) > 0); // the restarted device was asked
    }

    // Cancelled from another thread in the middle of the transfer: nothing more
    // goes out, the outcome says so, and the same worker's next upgrade is whole.
    void cancel_endsTheUpgradeAsCancelledAndTheNextStartsFresh()
    {
        QSemaphore reached, cancelled;
        Script device;
        device.afterData = [&](int frame) {
            if (frame != 2)
                return;
            reached.release();
            cancelled.acquire();
        };
        MemoryDeviceLink link(device);
        UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastFactor));
        UpgradeRecorder recorder(&worker);
        const QString path = writeImage(5000);
        worker.expectSequence();
        QFuture<UpgradeOutcome> task = QtConcurrent::run([&] { return worker.upgradeFile(path, UpgradeKind::SingleImage); });
        reached.acquire();
        worker.resetUpgradeParameters(1);
        cancelled.release();
        QCOMPARE(int(task.result().kind), int(Kind::Cancelled));
        QCOMPARE(link.count(AR_CMD_SENDFILE_DATA), 2);
        QCOMPARE(link.count(AR_CMD_SENDFILE_END), 0);

        QCOMPARE(int(worker.upgradeFile(path, UpgradeKind::SingleImage).kind), int(Kind::Succeeded));
        QCOMPARE(link.fileData(), TestBytes::pattern(5000));
        QCOMPARE(recorder.outcomes().size(), 2);
    }

    // Each upgrade has its own resends: those the worker's upgrade before used
    // up do not count against the next.
    void resends_areCountedForEachUpgrade()
    {
        QVector<int> verdicts(1 + 2 * ImageSteps::MaxResends, -1);
        verdicts.append(0);
        MemoryDeviceLink link(withVerdicts(verdicts));
        UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastFactor));
        const QString path = writeImage(3000);
        QCOMPARE(int(worker.upgradeFile(path, UpgradeKind::SingleImage).kind), int(Kind::DeviceRefused));
        QCOMPARE(int(worker.upgradeFile(path, UpgradeKind::SingleImage).kind), int(Kind::Succeeded));
        QCOMPARE(link.count(AR_CMD_SENDFILE_END), verdicts.size());
    }

private:
    QString writeImage(int bytes)
    {
        const QString path = m_dir->filePath(ImageName);
        return TestBytes::writeFile(path, TestBytes::pattern(bytes)) ? path : QString();
    }

    UpgradeOutcome upgrade(MemoryDeviceLink &link, const QString &path, bool checksRestart = false)
    {
        UpgradeProcess worker(&link, std::make_shared<ScaledClock>(FastFactor));
        worker.setChecksRestart(checksRestart);
        UpgradeRecorder recorder(&worker);
        const UpgradeOutcome outcome = worker.upgradeFile(path, UpgradeKind::SingleImage);
        m_emitted = recorder.outcomes();
        m_progress = recorder.progress();
        m_waiting = recorder.waiting();
        return outcome;
    }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<QTemporaryDir> m_dir;
    QList<UpgradeOutcome> m_emitted;
    QList<int> m_progress;
    QList<UpgradeWait> m_waiting;
};

QTEST_GUILESS_MAIN(TestUpgradeEngine)
#include "tst_upgradeengine.moc"
