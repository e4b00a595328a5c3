#include "faultinjection.h"
#include "fileannouncement.h"
#include "logcapture.h"
#include "upgraderun.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QtTest>

using UpgradeRun::WorkerOnDevice;

namespace {
constexpr int FastFactor = 100;
constexpr int RebootDelayMs = 150;
const QString ImageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");
using TestBytes::Change;
const QString AckTimedOut = QStringLiteral("Retry"); // logged when an acknowledgement's wait runs out

// The fast clock, with a long wait for each acknowledgement: a wait that only
// its timeout ends shows as an acknowledgement timed out.
class PatientClock : public ScaledClock
{
public:
    static constexpr int ReplyWaitMs = 20000;
    PatientClock() : ScaledClock(FastFactor) {}
    int replyWaitMs(int) const override { return ReplyWaitMs; }
};

// The device stops answering data frames from the `count`th on.
void silenceDataFrom(DeviceSimulator &sim, int count, std::function<void()> then = {})
{
    auto seen = std::make_shared<int>(0);
    QObject::connect(&sim, &DeviceSimulator::frameReceived, &sim, [&sim, count, seen, then](const SimFrameRecord &frame) {
        if (frame.command != AR_CMD_SENDFILE_DATA || frame.retry != 0 || ++*seen != count)
            return;
        sim.setSilent(true);
        if (then)
            then();
    }, Qt::DirectConnection);
}
} // namespace

Q_DECLARE_METATYPE(TestBytes::Change)

// Upgrades of one image file against the simulated device, on a fast clock.
class TestSingleImageUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_log.reset(new LogCapture); }
    void cleanup() { m_rig.reset(); m_log.reset(); }

    void completeUpgrade_followsTheDeviceSegmentLength_data()
    {
        QTest::addColumn<int>("receiveMaxSize");
        QTest::addColumn<int>("fileSize");
        using Sizes = QList<quint32>;
        QTest::addColumn<Sizes>("frames");
        QTest::addColumn<QList<int>>("transferProgress");
        QTest::newRow("smaller than a segment") << 1024 << 500 << Sizes{500} << QList<int>{5, 15};
        QTest::newRow("two and a half segments") << 1024 << 2560 << Sizes{1024, 1024, 512} << QList<int>{5, 13, 15, 15};
        QTest::newRow("exactly two segments") << 1024 << 2048 << Sizes{1024, 1024, 0} << QList<int>{5, 15, 15, 15};
        QTest::newRow("segment of 65536 in 51200 frames") << 65536 << 100000 << Sizes{51200, 14336, 34464}
                                                          << QList<int>{5, 15, 15};
    }

    void completeUpgrade_followsTheDeviceSegmentLength()
    {
        QFETCH(int, receiveMaxSize);
        QFETCH(int, fileSize);
        QFETCH(QList<quint32>, frames);
        QFETCH(QList<int>, transferProgress);
        prepare(receiveMaxSize, TestBytes::pattern(fileSize));
        QVERIFY(runUpgrade());

        QCOMPARE(UpgradeRun::phases(device().commands()),
                 (QList<quint32>{AR_COMMAND_GET_ACTIVE, AR_CMD_REMOTE_UPGRADE, AR_CMD_SENDFILE_START,
                                 AR_CMD_SENDFILE_DATA, AR_CMD_SENDFILE_END, AR_CMD_UPGRADE_STATUS}));
        QCOMPARE(device().framesOf(AR_COMMAND_GET_ACTIVE).first().payload, QByteArray("clean") + QByteArray(27, '\0'));
        QList<quint32> sizes;
        for (const SimFrameRecord &frame : device().requestsOf(AR_CMD_SENDFILE_DATA))
            sizes.append(frame.length);
        QCOMPARE(sizes, frames);
        const SimReceivedFile received = sim().receivedFiles().last();
        QCOMPARE(received.data, m_image);
        const ar_file_info &info = received.announcement;
        QCOMPARE(QByteArray(info.MD5), QCryptographicHash::hash(m_image, QCryptographicHash::Md5).toHex());
        QCOMPARE(info.length, m_image.size());
        QCOMPARE(info.saveAsFile, 1);
        QCOMPARE(QString::fromUtf8(info.filePath), QStringLiteral("/tmp/pc/") + ImageName);
        QCOMPARE(QString::fromUtf8(info.fileDir), m_imagePath);
        // The device's own percentage follows the transfer's 5 to 15.
        QCOMPARE(recorder().progress(), transferProgress + (QList<int>{20, 40, 60, 80, 100}));
        QVERIFY(recorder().hints().isEmpty());
        // The worker's reset after it: the next upgrade starts afresh.
        QCOMPARE(device().link->sequenceNumber(), 0u);
    }

    void changedFile_neverEndsAsTheImage_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<quint32>("command"); // changed as the device receives this request; 0: before the upgrade
        QTest::addColumn<int>("request");     // its n-th first transmission
        QTest::addColumn<QList<int>>("verdicts");
        QTest::addColumn<int>("announcements");
        QTest::addColumn<int>("fileEnds");
        const quint32 restart = AR_COMMAND_GET_ACTIVE, data = AR_CMD_SENDFILE_DATA, end = AR_CMD_SENDFILE_END;
        const QList<int> refusedOnce{-1, 0};
        QTest::newRow("emptied before the upgrade: the device untouched") << Change::CutToNothing << 0u << 0
                                                                          << QList<int>{} << 0 << 0;
        QTest::newRow("cut while the device restarts") << Change::CutToHalf << restart << 1 << QList<int>{} << 0 << 0;
        QTest::newRow("emptied while the device restarts") << Change::CutToNothing << restart << 1 << QList<int>{} << 0 << 0;
        QTest::newRow("grown while the device restarts") << Change::Append << restart << 1 << QList<int>{} << 0 << 0;
        QTest::newRow("overwritten in place while the device restarts") << Change::OverwriteInPlace << restart << 1
                                                                        << QList<int>{} << 1 << 0;
        QTest::newRow("cut during the transfer") << Change::CutToHalf << data << 2 << QList<int>{} << 1 << 0;
        QTest::newRow("overwritten in place during the transfer") << Change::OverwriteInPlace << data << 2
                                                                  << QList<int>{} << 1 << 0;
        QTest::newRow("cut before a resend") << Change::CutToHalf << end << 1 << refusedOnce << 1 << 1;
        QTest::newRow("overwritten in place before a resend") << Change::OverwriteInPlace << end << 1 << refusedOnce
                                                              << 2 << 1;
        QTest::newRow("replaced by a named pipe before a resend") << Change::ReplaceWithPipe << end << 1 << refusedOnce
                                                                  << 1 << 1;
    }

    // Only the file as pinned when the upgrade started may reach its end: a
    // change at any step ends the upgrade with its own failure, and the device
    // is sent no end of file for anything else (a resend is checked as well).
    void changedFile_neverEndsAsTheImage()
    {
        QFETCH(Change, change);
        QFETCH(quint32, command);
        QFETCH(int, request);
        QFETCH(QList<int>, verdicts);
        QFETCH(int, announcements);
        QFETCH(int, fileEnds);
        prepare(1024, TestBytes::pattern(100000)); // far more than a file buffer's read-ahead
        sim().setVerdicts(verdicts);
        const QString path = m_imagePath;
        auto changed = std::make_shared<std::atomic<bool>>(command == 0 && TestBytes::change(path, change));
        if (command != 0)
            onRequest(sim(), command, request, [=] { changed->store(TestBytes::change(path, change)); });
        QVERIFY(runUpgrade());
        QVERIFY(changed->load());

        QCOMPARE(device().requestsOf(AR_CMD_SENDFILE_START).size(), announcements);
        QCOMPARE(device().requestsOf(AR_CMD_SENDFILE_END).size(), fileEnds);
        for (const SimReceivedFile &file : sim().receivedFiles()) // only the refused one before a resend
            QCOMPARE(file.data, m_image);
        QVERIFY(device().framesOf(AR_CMD_UPGRADE_STATUS).isEmpty());
        QVERIFY(!recorder().progress().contains(100));
        if (command == 0) {
            QVERIFY(sim().frames().isEmpty());
            QCOMPARE(recorder().notStarted(), QStringList{QStringLiteral("升级固件文件为空！请检查！")});
            QVERIFY(recorder().hints().isEmpty());
            QVERIFY(worker()->upgradeFileMd5().isEmpty());
            return;
        }
        QCOMPARE(recorder().hints(), QStringList{Faults::FileChanged});
        QVERIFY(recorder().view().contains(Faults::viewLineFor(Faults::FileChanged)));
        QCOMPARE(worker()->upgradeFileMd5(), QCryptographicHash::hash(m_image, QCryptographicHash::Md5).toHex());
    }

    // Nothing more is written into a port that is gone, and no file end is sent;
    // a port that goes ends the wait for an acknowledgement at once.
    void portLost_endsTheTransferAtOnce()
    {
        constexpr int LastFrame = 350;
        prepare(1024, TestBytes::pattern(1024 * 1024));
        m_rig->useClock(std::make_shared<PatientClock>());
        DeviceSimulator &s = sim();
        silenceDataFrom(s, LastFrame, [&s] { QMetaObject::invokeMethod(&s, [&s] { s.vanish(); }, Qt::QueuedConnection); });
        QVERIFY(runUpgrade(2 * PatientClock::ReplyWaitMs));
        // The frame the device went silent at may still have been answered.
        QVERIFY(device().requestsOf(AR_CMD_SENDFILE_DATA).size() <= LastFrame + 1);
        QVERIFY(device().framesOf(AR_CMD_SENDFILE_END).isEmpty());
        QCOMPARE(LogCapture::count(AckTimedOut), 0);
    }

    void cancel_sendsNothingMoreAndTheNextUpgradeSucceeds_data()
    {
        QTest::addColumn<QString>("when");
        QTest::newRow("handed to the pool, not yet started") << "before";
        QTest::newRow("in the reboot pause") << "pause";
        QTest::newRow("mid-transfer") << "transfer";
        QTest::newRow("while a data frame awaits its acknowledgement") << "awaiting";
    }

    // The page's disconnect: the worker reset from this thread.
    void cancel_sendsNothingMoreAndTheNextUpgradeSucceeds()
    {
        constexpr int SlowFactor = 2; // a reboot pause of 2.5 s: the cancel surely falls inside it
        constexpr int SilentFrom = 20;
        QFETCH(QString, when);
        const bool before = when == QLatin1String("before"), inPause = when == QLatin1String("pause");
        const bool awaiting = when == QLatin1String("awaiting");
        prepare(1024, TestBytes::pattern(inPause || before ? 100 : 300 * 1024));
        if (awaiting) {
            m_rig->useClock(std::make_shared<PatientClock>());
            silenceDataFrom(sim(), SilentFrom);
        }
        worker()->expectSequence();
        QFuture<void> task;
        if (before) {
            worker()->resetUpgradeParameters(1);
            task = m_rig->launch(m_imagePath, UpgradeKind::SingleImage);
        } else {
            if (inPause) {
                m_rig->useClock(SlowFactor);
                sim().setSilent(true, AR_COMMAND_GET_ACTIVE); // the reboot is never confirmed
            } else if (!awaiting) {
                sim().setReplyDelay(2);
            }
            task = m_rig->launch(m_imagePath, UpgradeKind::SingleImage);
            // In the pause: the first request has given up after its transmissions.
            QTRY_VERIFY_WITH_TIMEOUT(inPause ? LogCapture::contains(QStringLiteral("max etry sent failed"))
                                             : device().framesOf(AR_CMD_SENDFILE_DATA).size() >= SilentFrom, 20000);
            if (inPause)
                device().link->closeSerialPort(); // as the page's disconnect does first
            worker()->resetUpgradeParameters(1);
        }
        const int requestsAtCancel = firstTransmissions(sim().frames()).size();
        const int framesAtCancel = sim().frames().size();
        QElapsedTimer sinceCancel;
        sinceCancel.start();
        task.waitForFinished();
        QVERIFY2(sinceCancel.elapsed() < 5000, qPrintable(QString::number(sinceCancel.elapsed())));
        if (awaiting) {
            // The wait ended with the cancel: nothing timed out, nothing went out again.
            QCOMPARE(LogCapture::count(AckTimedOut), 0);
            QCOMPARE(sim().frames().size(), framesAtCancel);
        }
        QVERIFY(!worker()->isSequenceRunning());
        QCOMPARE(worker()->getUpgStep(), -1);
        QCOMPARE(recorder().outcomes().size(), 1);
        QCOMPARE(int(recorder().outcomes().first().kind), int(UpgradeOutcome::Kind::Cancelled));
        QVERIFY(recorder().hints().isEmpty());
        QVERIFY(sim().receivedFiles().isEmpty());
        QCOMPARE(m_upgrade_device_vid.load(), 0);
        // At most the frame that was on its way when the cancel came.
        QVERIFY(firstTransmissions(sim().frames()).size() <= requestsAtCancel + (before || inPause ? 0 : 1));
        if (inPause) {
            QVERIFY(!device().link->SerialPortIsOpen()); // not opened again for a cancelled device
            return;
        }

        sim().setReplyDelay(0);
        sim().setSilent(false);
        QVERIFY(m_rig->connect());
        worker()->expectSequence(); // the next upgrade is not taken for cancelled
        QVERIFY(runUpgrade(60000));
        QCOMPARE(sim().receivedFiles().last().data, m_image);
    }

    void announcement_cutsALongNameToItsField()
    {
        const QString longName = QString(50, QChar(0x5347)) + QStringLiteral(".img"); // 150 UTF-8 bytes + 4
        const ar_file_info info = FileAnnouncement::make(PinnedImage(), longName, QStringLiteral("/tmp/") + longName, 1);
        QCOMPARE(QByteArray(info.filePath), QByteArray("/tmp/pc/") + longName.toUtf8().left(119));
        QCOMPARE(int(info.filePath[sizeof(info.filePath) - 1]), 0);
    }

private:
    void prepare(int receiveMaxSize, const QByteArray &image)
    {
        DeviceIdentity identity;
        identity.receiveMaxSize = receiveMaxSize;
        m_rig.reset(new WorkerOnDevice(identity));
        QVERIFY(m_rig->start(FastFactor, RebootDelayMs));
        m_image = image;
        m_imagePath = m_rig->writeFile(ImageName, image);
        QVERIFY(!m_imagePath.isEmpty());
    }
    bool runUpgrade(int timeoutMs = 30000) { return m_rig->run(m_imagePath, UpgradeKind::SingleImage, timeoutMs); }
    UpgradeProcess *worker() const { return m_rig->worker.get(); }
    DeviceSimulator &sim() const { return m_rig->device.sim; }
    SimulatedDevice &device() const { return m_rig->device; }
    UpgradeRecorder &recorder() const { return *m_rig->recorder; }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<WorkerOnDevice> m_rig;
    QByteArray m_image;
    QString m_imagePath;
};

QTEST_GUILESS_MAIN(TestSingleImageUpgrade)
#include "tst_singleimageupgrade.moc"
