#include "fileannouncement.h"
#include "logcapture.h"
#include "simulateddevice.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"
#include "upgraderun.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QtConcurrent>
#include <QtTest>

namespace {
constexpr int FastFactor = 100;
constexpr int RebootDelayMs = 150;
const QString TransferFailedHint = QStringLiteral("升级固件传输失败，请重启设备再次升级。");

QList<quint32> payloadSizes(const QList<SimFrameRecord> &frames)
{
    QList<quint32> sizes;
    for (const SimFrameRecord &frame : frames)
        sizes.append(frame.length);
    return sizes;
}

} // namespace

// Upgrades of one image file against the simulated device, on a fast clock.
class TestSingleImageUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void completeUpgrade_followsTheExchangeAndDeliversTheImage();
    void segmentation_followsTheDeviceSegmentLength_data();
    void segmentation_followsTheDeviceSegmentLength();
    void refusedFiveTimes_thenAccepted_resendsTheWholeFile();
    void transferFailures_endWithTheTransferHint_data();
    void transferFailures_endWithTheTransferHint();
    void deadLink_endsTheTransferAtOnce_data();
    void deadLink_endsTheTransferAtOnce();
    void refusedDataFrame_endsAsUnknownError();
    void rebootNeverConfirmed_givesUpAfterSixtyRepeats();
    void deviceNeverReturns_endsWithTheReconnectionHint();
    void statusPhaseFailures_data();
    void statusPhaseFailures();
    void resetFromOutside_endsAfterTheStepInProgress();
    void cancelDuringTheRebootPause_sendsNothingMoreAndLetsThePortGo();
    void cancelBeforeTheSequenceStarts_endsItAtOnce();
    void unusableSegmentLength_endsBeforeAnythingIsSent_data();
    void unusableSegmentLength_endsBeforeAnythingIsSent();
    void announcement_cutsLongNamesAndFallsBackToThePath_data();
    void announcement_cutsLongNamesAndFallsBackToThePath();

private:
    void prepare(int receiveMaxSize, const QByteArray &image, const QString &name = QStringLiteral("Merlow_R_Sky_1_0_6.img"));
    bool runUpgrade(int timeoutMs = 30000);

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
    QByteArray m_image;
    QString m_imagePath;
};

void TestSingleImageUpgrade::init()
{
    m_log.reset(new LogCapture);
}

void TestSingleImageUpgrade::cleanup()
{
    m_recorder.reset();
    m_worker.reset();
    m_device.reset();
    m_log.reset();
    m_upgrade_device_vid = 0;
}

void TestSingleImageUpgrade::prepare(int receiveMaxSize, const QByteArray &image, const QString &name)
{
    DeviceIdentity identity;
    identity.receiveMaxSize = receiveMaxSize;
    m_device.reset(new SimulatedDevice(identity));
    QVERIFY(m_device->start());
    m_device->sim.setRebootDelay(RebootDelayMs);
    m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(FastFactor)));
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));

    m_image = image;
    m_imagePath = m_device->dir.filePath(name);
    QFile file(m_imagePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();

    // Connect as the page does: open, receive, ask for the identity.
    QVERIFY(m_device->open());
    QCOMPARE(m_device->link->commandSerialSend(AR_COMMAND_FIND_DEVICE, 1, 2, 0, nullptr, 0, 1, 2000), 0);
    m_worker->setBinFilePath(m_imagePath, name);
    m_upgrade_device_vid = m_device->sim.identity().vendorId;
    m_device->sim.clearFrames();
}

bool TestSingleImageUpgrade::runUpgrade(int timeoutMs)
{
    return UpgradeRun::finish(QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess),
                              m_worker.get(), timeoutMs)
            && !m_worker->isSequenceRunning() && m_worker->getUpgStep() == -1;
}

void TestSingleImageUpgrade::completeUpgrade_followsTheExchangeAndDeliversTheImage()
{
    prepare(1024, UpgradeRun::pattern(2560));
    QVERIFY(runUpgrade());

    QCOMPARE(UpgradeRun::phases(m_device->commands()),
             (QList<quint32>{AR_COMMAND_GET_ACTIVE, AR_CMD_REMOTE_UPGRADE, AR_CMD_SENDFILE_START,
                             AR_CMD_SENDFILE_DATA, AR_CMD_SENDFILE_END, AR_CMD_UPGRADE_STATUS}));
    const SimFrameRecord reboot = m_device->framesOf(AR_COMMAND_GET_ACTIVE).first();
    QCOMPARE(reboot.payload, QByteArray("clean") + QByteArray(27, '\0'));
    QCOMPARE(m_device->sim.rebootModes(), QStringList{QStringLiteral("clean")});

    const SimReceivedFile received = m_device->sim.receivedFiles().last();
    QCOMPARE(received.data, m_image);
    QCOMPARE(received.verdict, 0);
    const ar_file_info &info = received.announcement;
    QCOMPARE(QByteArray(info.MD5), QCryptographicHash::hash(m_image, QCryptographicHash::Md5).toHex());
    QCOMPARE(info.length, m_image.size());
    QCOMPARE(info.saveAsFile, 1);
    QCOMPARE(QString::fromUtf8(info.filePath), QStringLiteral("/tmp/pc/Merlow_R_Sky_1_0_6.img"));
    QCOMPARE(QString::fromUtf8(info.fileDir), m_imagePath);
    QCOMPARE(payloadSizes(m_device->requestsOf(AR_CMD_SENDFILE_DATA)), (QList<quint32>{1024, 1024, 512}));

    QCOMPARE(m_recorder->progress(), (QList<int>{5, 13, 15, 15, 20, 40, 60, 80, 100}));
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_recorder->view().contains(QStringLiteral("upgrade successfully!")));
    QVERIFY(LogCapture::contains(QStringLiteral("device upgrade successfully!")));
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QVERIFY(!m_device->link->isSerialRecvStarted());
}

void TestSingleImageUpgrade::segmentation_followsTheDeviceSegmentLength_data()
{
    QTest::addColumn<int>("receiveMaxSize");
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<QList<quint32>>("frames");
    QTest::addColumn<QList<int>>("transferProgress");
    QTest::newRow("smaller than a segment") << 1024 << 500 << QList<quint32>{500} << QList<int>{5, 15};
    QTest::newRow("exactly two segments") << 1024 << 2048 << QList<quint32>{1024, 1024, 0}
                                          << QList<int>{5, 15, 15, 15};
    QTest::newRow("segment of 10240") << 10240 << 25000 << QList<quint32>{10240, 10240, 4520}
                                      << QList<int>{5, 13, 15, 15};
    QTest::newRow("segment of 65536 in 51200 frames") << 65536 << 100000
                                                      << QList<quint32>{51200, 14336, 34464}
                                                      << QList<int>{5, 15, 15};
    QTest::newRow("empty file") << 1024 << 0 << QList<quint32>{0} << QList<int>{5, 15};
}

void TestSingleImageUpgrade::segmentation_followsTheDeviceSegmentLength()
{
    QFETCH(int, receiveMaxSize);
    QFETCH(int, fileSize);
    QFETCH(QList<quint32>, frames);
    QFETCH(QList<int>, transferProgress);
    prepare(receiveMaxSize, UpgradeRun::pattern(fileSize));
    QVERIFY(runUpgrade());
    QCOMPARE(payloadSizes(m_device->requestsOf(AR_CMD_SENDFILE_DATA)), frames);
    QCOMPARE(m_device->sim.receivedFiles().last().data, m_image);
    QCOMPARE(m_recorder->progress().mid(0, transferProgress.size()), transferProgress);
    QCOMPARE(m_recorder->progress().last(), 100);
}

void TestSingleImageUpgrade::refusedFiveTimes_thenAccepted_resendsTheWholeFile()
{
    prepare(1024, UpgradeRun::pattern(3000));
    m_device->sim.setVerdicts({-1, -1, -1, -1, -1, 0});
    QVERIFY(runUpgrade());
    QCOMPARE(m_device->requestsOf(AR_CMD_SENDFILE_START).size(), 6);
    QCOMPARE(m_device->requestsOf(AR_CMD_REMOTE_UPGRADE).size(), 1);
    QCOMPARE(m_device->requestsOf(AR_COMMAND_GET_ACTIVE).size(), 1);
    const QStringList resends = LogCapture::matching(QStringLiteral("RESEND retry count"));
    QCOMPARE(resends.size(), 5);
    QVERIFY(resends.last().endsWith(QStringLiteral("RESEND retry count 5")));
    for (const SimReceivedFile &file : m_device->sim.receivedFiles())
        QCOMPARE(file.data, m_image); // every resend is the whole file
    QVERIFY(m_recorder->hints().isEmpty());
    QCOMPARE(m_recorder->progress().last(), 100);
}

void TestSingleImageUpgrade::transferFailures_endWithTheTransferHint_data()
{
    QTest::addColumn<QList<int>>("verdicts");
    QTest::addColumn<bool>("silentFileEnd");
    QTest::addColumn<int>("announcements");
    QTest::newRow("refused six times") << QList<int>{-1, -1, -1, -1, -1, -1} << false << 6;
    QTest::newRow("another verdict") << QList<int>{3} << false << 1;
    QTest::newRow("no verdict") << QList<int>{} << true << 1;
}

void TestSingleImageUpgrade::transferFailures_endWithTheTransferHint()
{
    QFETCH(QList<int>, verdicts);
    QFETCH(bool, silentFileEnd);
    QFETCH(int, announcements);
    prepare(1024, UpgradeRun::pattern(1500));
    m_device->sim.setVerdicts(verdicts);
    m_device->sim.setSilent(silentFileEnd, AR_CMD_SENDFILE_END);
    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), QStringList{TransferFailedHint});
    QVERIFY(m_recorder->view().contains(
        QStringLiteral("upgrade image transfer failed, please restart the device to upgrade again.")));
    QCOMPARE(m_device->requestsOf(AR_CMD_SENDFILE_START).size(), announcements);
    QVERIFY(m_device->framesOf(AR_CMD_UPGRADE_STATUS).isEmpty());
    QVERIFY(!m_recorder->progress().contains(100));
    // The bar shows the end of file before the verdict is waited for.
    QCOMPARE(m_recorder->progress().last(), 15);
}

void TestSingleImageUpgrade::deadLink_endsTheTransferAtOnce_data()
{
    QTest::addColumn<bool>("vanish"); // else the device keeps silent about data frames
    QTest::newRow("data frame never acknowledged") << false;
    QTest::newRow("device gone mid-transfer") << true;
}

// Nothing more is written into a port that is gone, and no verdict is waited for.
void TestSingleImageUpgrade::deadLink_endsTheTransferAtOnce()
{
    QFETCH(bool, vanish);
    prepare(1024, UpgradeRun::pattern(1024 * 1024));
    DeviceSimulator &sim = m_device->sim;
    auto dataFrames = std::make_shared<int>(0);
    QObject::connect(&sim, &DeviceSimulator::frameReceived, &sim, [&sim, vanish, dataFrames](const SimFrameRecord &frame) {
        if (frame.command != AR_CMD_SENDFILE_DATA || ++*dataFrames != 350)
            return;
        sim.setSilent(true);
        if (vanish)
            QMetaObject::invokeMethod(&sim, [&sim] { sim.vanish(); }, Qt::QueuedConnection);
    }, Qt::DirectConnection);
    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), QStringList{TransferFailedHint});
    QCOMPARE(LogCapture::count(QStringLiteral("commandSerialSend send err")), 1);
    QCOMPARE(LogCapture::count(QStringLiteral("waitReceiveDateResponse")), 0);
    QVERIFY(m_device->framesOf(AR_CMD_SENDFILE_END).isEmpty());
    QVERIFY(!m_recorder->progress().contains(100));
}

void TestSingleImageUpgrade::refusedDataFrame_endsAsUnknownError()
{
    prepare(1024, UpgradeRun::pattern(4096));
    m_device->sim.refuseNext(1, AR_CMD_SENDFILE_DATA);
    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("升级错误：未知错误！请重启设备再次升级！")});
    QVERIFY(m_device->framesOf(AR_CMD_UPGRADE_STATUS).isEmpty());
}

void TestSingleImageUpgrade::rebootNeverConfirmed_givesUpAfterSixtyRepeats()
{
    prepare(1024, UpgradeRun::pattern(100));
    m_device->sim.setSilent(true, AR_COMMAND_GET_ACTIVE);
    QVERIFY(runUpgrade(60000));
    const QStringList sleeps = LogCapture::matching(QStringLiteral("]  sleep "));
    QCOMPARE(sleeps.size(), 61);
    QVERIFY(sleeps.first().endsWith(QStringLiteral("sleep  5")));
    QVERIFY(sleeps.last().endsWith(QStringLiteral("sleep  305")));
    QCOMPARE(m_device->framesOf(AR_COMMAND_GET_ACTIVE).size(), 62 * 5);
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("FPV设备无法正确重启，请重启设备并重试升级。")});
    QVERIFY(m_recorder->view().contains(QStringLiteral(
        "The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.")));
    QVERIFY(m_device->framesOf(AR_CMD_REMOTE_UPGRADE).isEmpty());

    // The user is told what is waited for, with the seconds waited, all along.
    const QStringList waits = m_recorder->view().filter(QStringLiteral("waiting for the device to restart... "));
    QVERIFY2(waits.size() > 100, qPrintable(QString::number(waits.size())));
    QCOMPARE(waits.first(), QStringLiteral("waiting for the device to restart... 0 s"));
    int previous = -1;
    for (const QString &line : waits) {
        const int seconds = line.section(QLatin1Char(' '), -2, -2).toInt();
        QVERIFY2(seconds >= previous, qPrintable(line));
        previous = seconds;
    }
    QVERIFY(previous >= 900); // a silent device is given its full quarter of an hour
    const QStringList labels = m_recorder->waiting();
    QCOMPARE(labels.first(), QStringLiteral("正在等待设备重启，已等待0秒"));
    QVERIFY(labels.last().isEmpty()); // the wait is over when the failure comes
}

void TestSingleImageUpgrade::deviceNeverReturns_endsWithTheReconnectionHint()
{
    prepare(1024, UpgradeRun::pattern(100));
    m_device->sim.setRebootDelay(24 * 3600 * 1000);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runUpgrade());
    QVERIFY(timer.elapsed() >= UpgradeProcess::ReconnectLimitMs / FastFactor);
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("FPV设备重启后未能重新连接，请重启设备再次升级。")});
    QVERIFY(LogCapture::count(QStringLiteral("SerialPort not Open")) > 100);
}

void TestSingleImageUpgrade::statusPhaseFailures_data()
{
    using Steps = QList<SimScript::StatusStep>;
    QTest::addColumn<Steps>("script");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<int>("lastProgress");
    QTest::newRow("device error") << Steps{{0, STAT_VERIFY_IMAGE}, {30, STAT_IN_PROGRESS}, {0, UPGRATE_ERR_FLASH_ERR}}
                                  << "升级错误：Flash错误，请重启设备再次升级！" << 30;
    QTest::newRow("abnormal end") << Steps{{40, STAT_IN_PROGRESS}, {-1, STAT_IN_PROGRESS}}
                                  << "异常终止，请重启设备再次升级。" << 40;
    QTest::newRow("stuck at one percent") << Steps{{50, STAT_IN_PROGRESS}}
                                          << "升级超时，请重启设备再次升级。" << 50;
    QTest::newRow("unknown code") << Steps{{0, 7}} << "升级超时，请重启设备再次升级。" << 15;
    QTest::newRow("stuck verifying") << Steps{{0, STAT_VERIFY_IMAGE}} << "升级超时，请重启设备再次升级。" << 15;
}

void TestSingleImageUpgrade::statusPhaseFailures()
{
    QFETCH(QList<SimScript::StatusStep>, script);
    QFETCH(QString, hint);
    QFETCH(int, lastProgress);
    prepare(1024, UpgradeRun::pattern(700));
    m_device->sim.setStatusScript(script);
    QVERIFY(runUpgrade());
    QCOMPARE(m_recorder->hints(), QStringList{hint}); // reported once
    QCOMPARE(m_recorder->progress().last(), lastProgress);

    // The next upgrade on the same worker starts afresh: a status or clock
    // left from this one must not end a healthy upgrade.
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));
    m_device->sim.setStatusScript({});
    QVERIFY(m_device->open());
    m_upgrade_device_vid = m_device->sim.identity().vendorId;
    QVERIFY(runUpgrade());
    QVERIFY2(m_recorder->hints().isEmpty(), qPrintable(m_recorder->hints().join(QLatin1Char('|'))));
    QCOMPARE(m_recorder->progress().last(), 100);
    QCOMPARE(m_device->sim.receivedFiles().last().data, m_image);
}

void TestSingleImageUpgrade::resetFromOutside_endsAfterTheStepInProgress()
{
    prepare(1024, UpgradeRun::pattern(300 * 1024));
    m_device->sim.setReplyDelay(2);
    QFuture<void> task = QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess);
    QTRY_VERIFY_WITH_TIMEOUT(m_device->framesOf(AR_CMD_SENDFILE_DATA).size() > 20, 20000);
    m_worker->resetUpgradeParameters(1); // the page's disconnect, from this thread
    QVERIFY(m_worker->wasCancelled());
    task.waitForFinished();
    QVERIFY(!m_worker->isSequenceRunning());
    QCOMPARE(m_worker->getUpgStep(), -1);
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_device->sim.receivedFiles().isEmpty());
    QVERIFY(m_device->framesOf(AR_CMD_SENDFILE_DATA).size() < 300);
    QFile image(m_imagePath);
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), m_image);
    QCOMPARE(m_upgrade_device_vid.load(), 0);

    // The worker is ready for the next upgrade.
    m_upgrade_device_vid = m_device->sim.identity().vendorId;
    m_device->sim.setReplyDelay(0);
    m_device->sim.clearFrames();
    QVERIFY(m_device->open());
    QVERIFY(runUpgrade(60000));
    QCOMPARE(m_device->sim.receivedFiles().last().data, m_image);
}

void TestSingleImageUpgrade::cancelDuringTheRebootPause_sendsNothingMoreAndLetsThePortGo()
{
    constexpr int SlowFactor = 2; // a pause of 2.5 s: the cancel surely falls inside it
    prepare(1024, UpgradeRun::pattern(100));
    m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(SlowFactor)));
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));
    m_worker->setBinFilePath(m_imagePath, QFileInfo(m_imagePath).fileName());
    m_device->sim.setSilent(true, AR_COMMAND_GET_ACTIVE); // the reboot is never confirmed
    QFuture<void> task = QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess);
    // The first request has given up after its five transmissions: the pause follows.
    QTRY_VERIFY_WITH_TIMEOUT(LogCapture::contains(QStringLiteral("max etry sent failed")), 20000);

    QElapsedTimer sinceCancel;
    sinceCancel.start();
    m_device->link->closeSerialPort(); // the page's disconnect
    m_worker->resetUpgradeParameters(1);
    task.waitForFinished();
    QVERIFY2(sinceCancel.elapsed() < 5000, qPrintable(QString::number(sinceCancel.elapsed())));
    QCOMPARE(m_device->requestsOf(AR_COMMAND_GET_ACTIVE).size(), 1);
    QVERIFY(!m_device->link->SerialPortIsOpen());
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_recorder->waiting().last().isEmpty());
}

// The page hands the sequence to the pool and the user disconnects before a
// pool thread has taken it up.
void TestSingleImageUpgrade::cancelBeforeTheSequenceStarts_endsItAtOnce()
{
    prepare(1024, UpgradeRun::pattern(100));
    m_worker->expectSequence();
    m_worker->resetUpgradeParameters(1);
    QVERIFY(runUpgrade(5000));
    QVERIFY(m_device->sim.frames().isEmpty());
    QCOMPARE(m_upgrade_device_vid.load(), 0);

    // The next upgrade is not taken for cancelled.
    m_upgrade_device_vid = m_device->sim.identity().vendorId;
    m_worker->expectSequence();
    QVERIFY(runUpgrade());
    QCOMPARE(m_device->sim.receivedFiles().last().data, m_image);
}

void TestSingleImageUpgrade::unusableSegmentLength_endsBeforeAnythingIsSent_data()
{
    QTest::addColumn<int>("receiveMaxSize");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
}

void TestSingleImageUpgrade::unusableSegmentLength_endsBeforeAnythingIsSent()
{
    QFETCH(int, receiveMaxSize);
    prepare(receiveMaxSize, UpgradeRun::pattern(3000));
    QVERIFY(runUpgrade(5000));
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。")});
    QVERIFY(m_recorder->view().contains(QStringLiteral(
        "the device reported no usable maximum segment length, please restart the device and connect again.")));
    QVERIFY(LogCapture::contains(QStringLiteral("invalid maximum segment length reported by the device:")));
    QVERIFY(m_device->sim.frames().isEmpty());
}

void TestSingleImageUpgrade::announcement_cutsLongNamesAndFallsBackToThePath_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("givenName");
    QTest::addColumn<QByteArray>("devicePath");
    const QString longName = QString(50, QChar(0x5347)) + QStringLiteral(".img"); // 150 UTF-8 bytes + 4
    QTest::newRow("name given") << "A_1.img" << "A_1.img" << QByteArray("/tmp/pc/A_1.img");
    QTest::newRow("empty name uses the path") << "B_2.img" << "" << QByteArray("/tmp/pc/B_2.img");
    QTest::newRow("long UTF-8 name cut to the field")
        << longName << longName << (QByteArray("/tmp/pc/") + longName.toUtf8().left(119));
}

void TestSingleImageUpgrade::announcement_cutsLongNamesAndFallsBackToThePath()
{
    QFETCH(QString, fileName);
    QFETCH(QString, givenName);
    QFETCH(QByteArray, devicePath);
    prepare(1024, UpgradeRun::pattern(64), fileName);
    m_worker->setBinFilePath(m_imagePath, givenName);
    QVERIFY(runUpgrade());
    const ar_file_info info = m_device->sim.receivedFiles().last().announcement;
    QCOMPARE(QByteArray(info.filePath), devicePath);
    QCOMPARE(int(info.filePath[sizeof(info.filePath) - 1]), 0);
}

QTEST_GUILESS_MAIN(TestSingleImageUpgrade)
#include "tst_singleimageupgrade.moc"
