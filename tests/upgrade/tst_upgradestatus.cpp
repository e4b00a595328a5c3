#include "fixedportlister.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"
#include "usbvirtualserial.h"

#include <QtTest>

namespace {
ar_upgrade_status report(int percent, int status)
{
    ar_upgrade_status r{};
    r.percent = percent;
    r.status = status;
    return r;
}
} // namespace

class TestUpgradeStatus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void recordUpgradeStatus_everyCode_data();
    void recordUpgradeStatus_everyCode();
    void done_reportsSuccessAndAsksToFinish();
    void percentMinusOne_isAnAbnormalEndEvenWhenDone_data();
    void percentMinusOne_isAnAbnormalEndEvenWhenDone();
    void firstReportOfMinusOne_endsTheUpgradeWithItsOwnHint();
    void stagnation_endsAfter120SecondsOfTheSameState_data();
    void stagnation_endsAfter120SecondsOfTheSameState();
    void stagnation_risingPercentIsProgress();
    void stagnation_neverForDone();
    void negativeReportFromTheDevice_endsTheUpgradeAndIsReportedOnce();
    void segmentLength_mapsToAFrameUnit_data();
    void segmentLength_mapsToAFrameUnit();
    void reset_clearsTheUpgradedVendorOnlyWhenFinished_data();
    void reset_clearsTheUpgradedVendorOnlyWhenFinished();

private:
    std::shared_ptr<ManualClock> m_clock;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
};

void TestUpgradeStatus::init()
{
    m_log.reset(new LogCapture);
    m_clock = std::make_shared<ManualClock>();
    m_link.reset(new UsbVirtualSerial(std::make_shared<FixedPortLister>()));
    m_worker.reset(new UpgradeProcess(m_link.get(), m_clock));
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));
    m_worker->setRun(true);
}

void TestUpgradeStatus::cleanup()
{
    m_recorder.reset();
    m_worker.reset();
    m_link.reset();
    m_log.reset();
    m_upgrade_device_vid = 0;
}

void TestUpgradeStatus::recordUpgradeStatus_everyCode_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<int>("level");
    QTest::addColumn<QStringList>("view");
    QTest::addColumn<QString>("hint");
    const int info = QtInfoMsg;
    const QString failed = QStringLiteral("upgrade status failed, please restart the device to upgrade again.");
    const QString failedHint = QStringLiteral("升级状态失败，请重启设备再次升级。");
    QTest::newRow("-1 no SD") << -1 << "upgrade error: no SD card detected" << info
                              << QStringList{"upgrade error: no SD card detected!"} << "升级错误：未检测到SD卡！";
    QTest::newRow("-2 no PC") << -2 << "upgrade error: no PC connected" << info
                              << QStringList{"upgrade error: no computer connected!"} << "升级错误：未连接到电脑";
    QTest::newRow("-3 no file") << -3 << "upgrade error: no upgrade file found" << info
                                << QStringList{"upgrade error: no upgrade file found!"}
                                << "升级错误：未找到升级固件，请检查升级固件是否正确！";
    QTest::newRow("-4 bad file") << -4 << "upgrade error: upgrade file is corrupted" << info
                                 << QStringList{"upgrade error: upgrade file is corrupted!"}
                                 << "升级错误：升级文件已损坏，请检查升级固件是否正确！";
    QTest::newRow("-5 board") << -5 << "upgrade error: incorrect board type" << info
                              << QStringList{"upgrade error: the device model does not match the upgraded firmware!"}
                              << "升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！";
    QTest::newRow("-6 version") << -6 << "upgrade error: application version mismatch" << info
                                << QStringList{"upgrade error: The firmware version number is too low!"}
                                << "升级错误：升级固件版本号过低，请检查升级固件是否正确！";
    QTest::newRow("-7 mode") << -7 << "upgrade error: invalid upgrade mode" << info
                             << QStringList{"upgrade error: invalid upgrade mode!"} << "升级错误：无效的升级方式！";
    QTest::newRow("-8 type") << -8 << "upgrade error: invalid image type" << info
                             << QStringList{"upgrade error: invalid image type!"}
                             << "升级错误：无效的升级固件类型，请检查升级固件是否正确！";
    QTest::newRow("-9 has no row") << -9 << failed << int(QtCriticalMsg) << QStringList{failed} << failedHint;
    QTest::newRow("-10 unknown") << -10 << "upgrade error: Unknown error" << info
                                 << QStringList{"upgrade error: unknown error!"} << "升级错误：未知错误！请重启设备再次升级！";
    QTest::newRow("-11 flash") << -11 << "upgrade error: flash error!" << info
                               << QStringList{"upgrade error: flash error!"} << "升级错误：Flash错误，请重启设备再次升级！";
    QTest::newRow("-12 below the table") << -12 << failed << int(QtCriticalMsg) << QStringList{failed} << failedHint;
    QTest::newRow("0 verifying") << 0 << "upgrade firmware checking..." << info
                                 << QStringList{"upgrade firmware checking..."} << "";
    QTest::newRow("1 start") << 1 << "check success, start upgrade." << info
                             << QStringList{"check successfully!", "start upgrade."} << "";
    QTest::newRow("2 progress") << 2 << "upgrade progress ... 37 %" << info
                                << QStringList{"upgrade progress 37%"} << "";
    QTest::newRow("3 done") << 3 << "upgrade success!" << info
                            << QStringList{"upgrade progress 37%", "upgrade successfully!"} << "";
    QTest::newRow("4 clean system") << 4 << failed << int(QtCriticalMsg) << QStringList{failed} << failedHint;
    QTest::newRow("5 clean system failed") << 5 << failed << int(QtCriticalMsg) << QStringList{failed} << failedHint;
    QTest::newRow("99 above the table") << 99 << failed << int(QtCriticalMsg) << QStringList{failed} << failedHint;
}

void TestUpgradeStatus::recordUpgradeStatus_everyCode()
{
    QFETCH(int, status);
    QFETCH(QString, logLine);
    QFETCH(int, level);
    QFETCH(QStringList, view);
    QFETCH(QString, hint);
    m_worker->recordUpgradeStatus(status, 37);
    QCOMPARE(LogCapture::count(QStringLiteral("]  ") + logLine, QtMsgType(level)), 1);
    QCOMPARE(m_recorder->view(), view);
    QCOMPARE(m_recorder->hints(), hint.isEmpty() ? QStringList() : QStringList{hint});
    QVERIFY(m_recorder->hintsFlaggedAsHints());
    QVERIFY(m_worker->beRun()); // reporting alone never ends the sequence
}

void TestUpgradeStatus::done_reportsSuccessAndAsksToFinish()
{
    bool needReboot = false;
    m_link->startSerialRecv();
    QVERIFY(!m_worker->evaluateStatus(report(100, STAT_DONE), &needReboot));
    QVERIFY(needReboot);
    QVERIFY(!m_link->isSerialRecvStarted());
    QCOMPARE(m_recorder->view(), (QStringList{"upgrade progress 100%", "upgrade successfully!"}));
    QVERIFY(m_recorder->hints().isEmpty());
}

void TestUpgradeStatus::percentMinusOne_isAnAbnormalEndEvenWhenDone_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("done") << int(STAT_DONE);
    QTest::newRow("in progress") << int(STAT_IN_PROGRESS);
    QTest::newRow("device error") << int(UPGRATE_ERR_BAD_FILE);
}

void TestUpgradeStatus::percentMinusOne_isAnAbnormalEndEvenWhenDone()
{
    QFETCH(int, status);
    QSignalSpy started(m_worker.get(), &UpgradeProcess::sigUpgStart);
    bool needReboot = false;
    QVERIFY(m_worker->evaluateStatus(report(-1, status), &needReboot));
    QVERIFY(!needReboot);
    QVERIFY(!m_worker->beRun());
    QCOMPARE(m_recorder->view(),
             QStringList{"abnormal termination, please restart the device to upgrade again."});
    QCOMPARE(m_recorder->hints(), QStringList{"异常终止，请重启设备再次升级。"});
    QCOMPARE(started.count(), 1);
    QCOMPARE(started.first().first().toBool(), false);
}

// The first report after start matches the initial last status (-1) and
// has no change time yet: it must not count as stagnant.
void TestUpgradeStatus::firstReportOfMinusOne_endsTheUpgradeWithItsOwnHint()
{
    bool needReboot = false;
    QVERIFY(m_worker->evaluateStatus(report(0, UPGRATE_ERR_NO_SD), &needReboot));
    QCOMPARE(m_recorder->hints(), QStringList{"升级错误：未检测到SD卡！"});
    QVERIFY(!m_worker->beRun());
}

void TestUpgradeStatus::stagnation_endsAfter120SecondsOfTheSameState_data()
{
    QTest::addColumn<int>("status");
    QTest::newRow("verifying") << int(STAT_VERIFY_IMAGE);
    QTest::newRow("started") << int(STAT_START);
    QTest::newRow("in progress at one percent") << int(STAT_IN_PROGRESS);
    QTest::newRow("clean system") << int(STAT_ENTER_CLEAN_SYSTEM);
}

void TestUpgradeStatus::stagnation_endsAfter120SecondsOfTheSameState()
{
    QFETCH(int, status);
    bool needReboot = false;
    QVERIFY(!m_worker->evaluateStatus(report(30, status), &needReboot));
    m_clock->advanceSecs(119);
    QVERIFY(!m_worker->evaluateStatus(report(30, status), &needReboot));
    QVERIFY(m_recorder->hints().isEmpty());
    m_clock->advanceSecs(1);
    QVERIFY(m_worker->evaluateStatus(report(30, status), &needReboot));
    QCOMPARE(m_recorder->hints(), QStringList{"升级超时，请重启设备再次升级。"});
    QCOMPARE(m_recorder->view(),
             QStringList{"upgrade timeout, please restart the device to upgrade again."});
    QVERIFY(!m_worker->beRun());
}

void TestUpgradeStatus::stagnation_risingPercentIsProgress()
{
    bool needReboot = false;
    for (int percent = 10; percent <= 60; percent += 10) {
        QVERIFY(!m_worker->evaluateStatus(report(percent, STAT_IN_PROGRESS), &needReboot));
        m_clock->advanceSecs(100); // 500 s in all, but never 120 s without progress
    }
    QVERIFY(m_recorder->hints().isEmpty());
    m_clock->advanceSecs(20);
    QVERIFY(m_worker->evaluateStatus(report(60, STAT_IN_PROGRESS), &needReboot));
}

void TestUpgradeStatus::stagnation_neverForDone()
{
    bool needReboot = false;
    QVERIFY(!m_worker->evaluateStatus(report(100, STAT_DONE), &needReboot));
    m_clock->advanceSecs(1000);
    QVERIFY(!m_worker->evaluateStatus(report(100, STAT_DONE), &needReboot));
    QVERIFY(m_recorder->hints().isEmpty());
}

void TestUpgradeStatus::negativeReportFromTheDevice_endsTheUpgradeAndIsReportedOnce()
{
    m_link->startSerialRecv();
    ar_upgrade_status failure = report(0, UPGRATE_ERR_BOARD_TYPE);
    m_link->receiveBytes(ProtocolFrame::encode(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_ACK, 1, 0,
                                               ProtocolFrame::recordBytes(failure)));
    QVERIFY(!m_worker->beRun());
    QVERIFY(!m_link->isSerialRecvStarted());
    QCOMPARE(m_worker->latestStatus().status, int(UPGRATE_ERR_BOARD_TYPE));
    bool needReboot = false;
    QVERIFY(m_worker->evaluateStatus(m_worker->latestStatus(), &needReboot)); // the status phase sees it too
    QCOMPARE(m_recorder->hints(),
             QStringList{"升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！"});
}

void TestUpgradeStatus::segmentLength_mapsToAFrameUnit_data()
{
    QTest::addColumn<int>("reported");
    QTest::addColumn<int>("unit");
    const QList<QPair<int, int>> rows = {
        {1024, 1024},       {1025, 1024},       {4095, 1024},     {4096, 4096},   {4097, 1024},
        {10239, 1024},      {10240, 10240},     {20479, 10240},   {20480, 20480}, {30720, 30720},
        {40960, 40960},     {65536, 51200},     {102400, 102400}, {204800, 204800},
        {307200, 307200},   {409600, 409600},   {511999, 409600}, {512000, 512000},
        {1048575, 512000},  {1048576, 1048576}, {5000000, 1048576}, {0, 1024},   {-5, 1024}};
    for (const auto &row : rows)
        QTest::newRow(qPrintable(QString::number(row.first))) << row.first << row.second;
}

void TestUpgradeStatus::segmentLength_mapsToAFrameUnit()
{
    QFETCH(int, reported);
    QFETCH(int, unit);
    QCOMPARE(m_worker->getSegmentLength(), 1024); // before any report
    ar_device_info info{};
    info.receiveMaxSize = reported;
    m_link->receiveBytes(ProtocolFrame::encode(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_ACK, 0, 0,
                                               ProtocolFrame::recordBytes(info)));
    QCOMPARE(m_worker->getSegmentLength(), unit);
}

void TestUpgradeStatus::reset_clearsTheUpgradedVendorOnlyWhenFinished_data()
{
    QTest::addColumn<int>("finish");
    QTest::addColumn<int>("vidAfter");
    QTest::newRow("part of a package") << 0 << 7542;
    QTest::newRow("finished") << 1 << 0;
}

void TestUpgradeStatus::reset_clearsTheUpgradedVendorOnlyWhenFinished()
{
    QFETCH(int, finish);
    QFETCH(int, vidAfter);
    m_upgrade_device_vid = 7542;
    m_link->set_usb_vid(7542);
    m_link->startSerialRecv();
    m_worker->setUpgStep(AR_CMD_SENDFILE_DATA);
    m_worker->resetUpgradeParameters(finish);
    QCOMPARE(m_upgrade_device_vid.load(), vidAfter);
    QCOMPARE(m_worker->getUpgStep(), -1);
    QVERIFY(!m_worker->beRun());
    QCOMPARE(m_link->get_usb_vid(), 0);
    QVERIFY(!m_link->isSerialRecvStarted());
    QCOMPARE(m_link->sequenceNumber(), 0u);
}

QTEST_GUILESS_MAIN(TestUpgradeStatus)
#include "tst_upgradestatus.moc"
