#include "logcapture.h"
#include "memorydevicelink.h"
#include "replymailbox.h"
#include "statusevaluation.h"
#include "upgradechannel.h"
#include "upgraderecorder.h"

#include <QtTest>

namespace {
// One status report, `afterSecs` after the one before it.
struct Report
{
    int afterSecs;
    int percent;
    int status;
};
using Reports = QList<Report>;
} // namespace
Q_DECLARE_METATYPE(Reports)

class TestUpgradeStatus : public QObject
{
    Q_OBJECT

private slots:
    void init() { w.reset(new World); }

    void cleanup() { w.reset(); }

    void recordUpgradeStatus_everyCode_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<int>("level");
        QTest::addColumn<QStringList>("view");
        QTest::addColumn<QString>("hint");
        const QString failed = QStringLiteral("upgrade status failed, please restart the device to upgrade again.");
        const QString failedHint = QStringLiteral("升级状态失败，请重启设备再次升级。");
        const auto row = [](const char *name, int status, const QString &logLine, const QStringList &view,
                            const QString &hint, int level = QtInfoMsg) {
            QTest::newRow(name) << status << logLine << level << view << hint;
        };
        // A code without a row of its own is an error of the status itself.
        const auto unknown = [&](const char *name, int status) {
            row(name, status, failed, {failed}, failedHint, QtCriticalMsg);
        };
        const auto error = [&](const char *name, int status, const char *logged, const char *shown, const char *hint) {
            const QString prefix = QStringLiteral("upgrade error: ");
            row(name, status, prefix + logged, {prefix + shown}, QString::fromUtf8(hint));
        };
        error("-1 no SD", -1, "no SD card detected", "no SD card detected!", "升级错误：未检测到SD卡！");
        error("-2 no PC", -2, "no PC connected", "no computer connected!", "升级错误：未连接到电脑");
        error("-3 no file", -3, "no upgrade file found", "no upgrade file found!",
              "升级错误：未找到升级固件，请检查升级固件是否正确！");
        error("-4 bad file", -4, "upgrade file is corrupted", "upgrade file is corrupted!",
              "升级错误：升级文件已损坏，请检查升级固件是否正确！");
        error("-5 board", -5, "incorrect board type", "the device model does not match the upgraded firmware!",
              "升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！");
        error("-6 version", -6, "application version mismatch", "The firmware version number is too low!",
              "升级错误：升级固件版本号过低，请检查升级固件是否正确！");
        error("-7 mode", -7, "invalid upgrade mode", "invalid upgrade mode!", "升级错误：无效的升级方式！");
        error("-8 type", -8, "invalid image type", "invalid image type!",
              "升级错误：无效的升级固件类型，请检查升级固件是否正确！");
        unknown("-9 has no row", -9);
        error("-10 unknown", -10, "Unknown error", "unknown error!", "升级错误：未知错误！请重启设备再次升级！");
        error("-11 flash", -11, "flash error!", "flash error!", "升级错误：Flash错误，请重启设备再次升级！");
        unknown("-12 below the table", -12);
        row("0 verifying", 0, "upgrade firmware checking...", {"upgrade firmware checking..."}, "");
        row("1 start", 1, "check success, start upgrade.", {"check successfully!", "start upgrade."}, "");
        row("2 progress", 2, "upgrade progress ... 37 %", {"upgrade progress 37%"}, "");
        row("3 done", 3, "upgrade success!", {"upgrade progress 37%", "upgrade successfully!"}, "");
        unknown("4 clean system", 4);
    }

    void recordUpgradeStatus_everyCode()
    {
        QFETCH(int, status);
        QFETCH(QString, logLine);
        QFETCH(int, level);
        QFETCH(QStringList, view);
        QFETCH(QString, hint);
        if (hint.isEmpty()) {
            w->evaluation.recordUpgradeStatus(status, 37);
        } else {
            const UpgradeOutcome outcome = w->evaluation.reportFailure(status, 37);
            QCOMPARE(int(outcome.kind), int(UpgradeOutcome::Kind::DeviceError));
            QCOMPARE(outcome.code, status);
            QCOMPARE(outcome.hint, hint);
        }
        QCOMPARE(LogCapture::count(QStringLiteral("]  ") + logLine, QtMsgType(level)), 1);
        QCOMPARE(w->lines.view, view);
    }

    void statusReports_endTheUpgradeOnlyWhenTheyShould_data()
    {
        QTest::addColumn<Reports>("reports");
        QTest::addColumn<QString>("hint"); // empty: no report ends the upgrade, else the last one does
        QTest::addColumn<QString>("view"); // the last log-view line
        const QString timeout = QStringLiteral("升级超时，请重启设备再次升级。");
        const QString timeoutView = QStringLiteral("upgrade timeout, please restart the device to upgrade again.");
        const QString abnormal = QStringLiteral("异常终止，请重启设备再次升级。");
        const QString abnormalView = QStringLiteral("abnormal termination, please restart the device to upgrade again.");
        // A status standing still for 120 s, not 119.
        for (const int status : {STAT_VERIFY_IMAGE, STAT_START, STAT_IN_PROGRESS, STAT_ENTER_CLEAN_SYSTEM})
            QTest::addRow("status %d unchanged for 120 s", status)
                << Reports{{0, 30, status}, {119, 30, status}, {1, 30, status}} << timeout << timeoutView;
        QTest::newRow("rising percent is progress, 120 s without it is not")
            << Reports{{0, 10, STAT_IN_PROGRESS}, {100, 20, STAT_IN_PROGRESS}, {100, 30, STAT_IN_PROGRESS},
                       {100, 40, STAT_IN_PROGRESS}, {119, 40, STAT_IN_PROGRESS}, {1, 40, STAT_IN_PROGRESS}}
            << timeout << timeoutView;
        QTest::newRow("percent going back and forth is standing still")
            << Reports{{0, 51, STAT_IN_PROGRESS}, {30, 50, STAT_IN_PROGRESS}, {30, 51, STAT_IN_PROGRESS},
                       {30, 50, STAT_IN_PROGRESS}, {29, 51, STAT_IN_PROGRESS}, {1, 50, STAT_IN_PROGRESS}}
            << timeout << timeoutView;
        QTest::newRow("creeping forward for 300 s is progress")
            << Reports{{0, 10, STAT_IN_PROGRESS},  {60, 11, STAT_IN_PROGRESS}, {60, 12, STAT_IN_PROGRESS},
                       {60, 11, STAT_IN_PROGRESS}, {59, 13, STAT_IN_PROGRESS}, {61, 14, STAT_IN_PROGRESS},
                       {119, 14, STAT_IN_PROGRESS}, {0, 100, STAT_DONE}} << QString() << "upgrade successfully!";
        QTest::newRow("done never stagnates")
            << Reports{{0, 100, STAT_DONE}, {1000, 100, STAT_DONE}} << QString() << "upgrade successfully!";
        for (const int status : {STAT_DONE, STAT_IN_PROGRESS, UPGRATE_ERR_BAD_FILE})
            QTest::addRow("percent -1 with status %d is an abnormal end", status)
                << Reports{{0, -1, status}} << abnormal << abnormalView;
        // The first report matches the initial last status (-1) and has no change
        // time yet: it is no stagnation, but the device's own error.
        QTest::newRow("first report of -1") << Reports{{500, 0, UPGRATE_ERR_NO_SD}} << "升级错误：未检测到SD卡！"
                                            << "upgrade error: no SD card detected!";
    }

    void statusReports_endTheUpgradeOnlyWhenTheyShould()
    {
        QFETCH(Reports, reports);
        QFETCH(QString, hint);
        QFETCH(QString, view);
        std::optional<UpgradeOutcome> ended;
        for (int i = 0; i < reports.size(); ++i) {
            w->clock.advanceSecs(reports.at(i).afterSecs);
            bool needReboot = false;
            ended = w->evaluation.evaluateStatus({reports.at(i).percent, reports.at(i).status, {}}, &needReboot);
            QCOMPARE(bool(ended), !hint.isEmpty() && i + 1 == reports.size());
            QCOMPARE(needReboot, reports.at(i).status == STAT_DONE && reports.at(i).percent != -1);
        }
        QCOMPARE(ended ? ended->hint : QString(), hint);
        QCOMPARE(w->lines.view.last(), view);
    }

    void segmentLength_mapsToAFrameUnit_data()
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

    void segmentLength_mapsToAFrameUnit()
    {
        QFETCH(int, reported);
        QFETCH(int, unit);
        MemoryDeviceLink link;
        ReplyMailbox mailbox(link, std::make_shared<ManualClock>());
        UpgradeChannel channel(link, mailbox, w->lines);
        mailbox.segmentLength(reported);
        QCOMPARE(channel.getSegmentLength(), unit);
    }

private:
    // One status phase's evaluation, its clock set by hand.
    struct World
    {
        LogCapture log;
        ManualClock clock;
        ReportedLines lines;
        StatusEvaluation evaluation{lines, clock};
    };
    std::unique_ptr<World> w;
};

QTEST_GUILESS_MAIN(TestUpgradeStatus)
#include "tst_upgradestatus.moc"
