#include "faultinjection.h"
#include "logcapture.h"
#include "packagebuilder.h"
#include "upgraderun.h"

#include <QCryptographicHash>
#include <QtTest>

using UpgradeRun::WorkerOnDevice;

namespace {
constexpr int FastFactor = 100;
constexpr int RebootDelayMs = 150;
constexpr int PartBytes = 2048; // two segments of 1024: the bar reaches each part's share exactly
const QString PackageName = QStringLiteral("Merlow_R_Sky_1_0_6.img");

QByteArray partData(char seed, int size = PartBytes) { return TestBytes::pattern(size, seed); }
} // namespace

// Upgrades from a multi-image package against the simulated device.
class TestMultiImageUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_log.reset(new LogCapture);
        m_temp.reset(new UpgradeRun::ProgramTempDir);
        DeviceIdentity identity;
        identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6;
        m_rig.reset(new WorkerOnDevice(identity));
        QVERIFY(m_temp->dir.isValid() && m_rig->start(FastFactor, RebootDelayMs));
        QVERIFY(QDir::setCurrent(device().dir.path())); // the user's folder: no part may land here
    }
    void cleanup()
    {
        QDir::setCurrent(QDir::rootPath());
        m_rig.reset();
        m_temp.reset();
        m_log.reset();
    }

    void threeParts_goLastFirstAndOnlyTheApplicationReboots()
    {
        const QByteArray app = partData('a'), fpga = partData('f'), sensor = partData('s');
        QList<int> vidDuringAnnouncements; // written on the simulator's thread, read after it is idle
        QObject::connect(&sim(), &DeviceSimulator::frameReceived, &sim(), [&](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_SENDFILE_START)
                vidDuringAnnouncements.append(m_upgrade_device_vid.load());
        }, Qt::DirectConnection);
        QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, app}, {IMG_TAREL_FPGA, fpga}, {IMG_TAREL_8333_SENSOR, sensor}})));

        const auto files = sim().receivedFiles();
        QCOMPARE(files.size(), 3);
        const QList<QPair<QByteArray, int>> expected = {{"/tmp/pc/sensor.bin", 8}, {"/tmp/pc/fpga.bin", 7},
                                                        {"/tmp/pc/app.bin", 6}};
        const QList<QByteArray> data = {sensor, fpga, app};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(QByteArray(files.at(i).announcement.filePath), expected.at(i).first);
            QCOMPARE(files.at(i).announcement.saveAsFile, expected.at(i).second);
            const QFileInfo local(QString::fromUtf8(files.at(i).announcement.fileDir));
            QCOMPARE(local.absolutePath().section('/', 0, -2), TemporaryFolders(m_temp->dir.path()).path());
            QVERIFY(!local.dir().exists()); // gone with the upgrade
            QCOMPARE(files.at(i).data, data.at(i));
        }
        const QList<quint32> part = {AR_CMD_REMOTE_UPGRADE, AR_CMD_SENDFILE_START, AR_CMD_SENDFILE_DATA,
                                     AR_CMD_SENDFILE_END};
        QCOMPARE(UpgradeRun::phases(device().commands()),
                 part + part + QList<quint32>{AR_COMMAND_GET_ACTIVE} + part + QList<quint32>{AR_COMMAND_GET_ACTIVE});
        QTRY_COMPARE(sim().rebootModes(), (QStringList{"clean", "normal"}));
        QCOMPARE(recorder().progress(), (QList<int>{33, 33, 66, 66, 99, 99, 100}));
        QCOMPARE(vidDuringAnnouncements, (QList<int>{7542, 7542, 7542}));
        QCOMPARE(m_upgrade_device_vid.load(), 0);
        QVERIFY(recorder().hints().isEmpty());
        QVERIFY(noPartsLeft());
        QVERIFY(QDir::current().entryList({QStringLiteral("*.bin")}).isEmpty());
    }

    // Parts are sent "other" first, then the FPGA image. A part the device
    // refuses is sent again like a single image, then the next part goes.
    void refusedPart_isSentAgainAndThePackageGoesOn()
    {
        sim().setVerdicts({-1, 0, 0});
        QVERIFY(runPackage(writePackage({{IMG_TAREL_FPGA, partData('f')}, {IMG_UNKNOWN, partData('o')}})));

        QList<QByteArray> announced;
        for (const SimFrameRecord &frame : device().requestsOf(AR_CMD_SENDFILE_START))
            announced.append(QByteArray(reinterpret_cast<const ar_file_info *>(frame.payload.constData())->filePath));
        QCOMPARE(announced, (QList<QByteArray>{"/tmp/pc/other.bin", "/tmp/pc/other.bin", "/tmp/pc/fpga.bin"}));
        QVERIFY(recorder().hints().isEmpty());
        QVERIFY(recorder().progress().contains(100));
        QTRY_COMPARE(sim().rebootModes(), QStringList{"normal"});
        QVERIFY(noPartsLeft());
    }

    void partThatCannotBeOpened_endsThePackage()
    {
        // The FPGA part disappears while the sensor part (sent first) ends.
        QString fpgaPart;
        QObject::connect(&sim(), &DeviceSimulator::frameReceived, &sim(), [&fpgaPart](const SimFrameRecord &frame) {
            if (frame.command == AR_CMD_SENDFILE_START && fpgaPart.isEmpty()) {
                const ar_file_info *info = reinterpret_cast<const ar_file_info *>(frame.payload.constData());
                fpgaPart = QFileInfo(QString::fromUtf8(info->fileDir)).dir().filePath(QStringLiteral("fpga.bin"));
            } else if (frame.command == AR_CMD_SENDFILE_END) {
                QFile::remove(fpgaPart);
            }
        }, Qt::DirectConnection);
        QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, partData('a')}, {IMG_TAREL_FPGA, partData('f')},
                                         {IMG_TAREL_8333_SENSOR, partData('s')}})));
        QCOMPARE(recorder().hints(), QStringList{QStringLiteral("打开升级固件失败!")});
        QCOMPARE(sim().receivedFiles().size(), 1);
        QVERIFY(device().framesOf(AR_COMMAND_GET_ACTIVE).isEmpty()); // the application part never started
        QVERIFY(!recorder().progress().contains(100));
        QVERIFY(noPartsLeft());
    }

    void changedPackage_onlyThePinnedOneGoesOut_data()
    {
        QTest::addColumn<bool>("whileSplit"); // else while its first part is sent
        QTest::newRow("overwritten while it is split: nothing sent") << true;
        QTest::newRow("overwritten while a part is sent: the pinned parts go out") << false;
    }

    // The package is pinned as the upgrade starts and split from it: another
    // package under the same name never reaches the device, not even in part.
    void changedPackage_onlyThePinnedOneGoesOut()
    {
        QFETCH(bool, whileSplit);
        const QByteArray app = partData('a'), fpga = partData('f');
        const QString path = writePackage({{IMG_TAREL_APP, app}, {IMG_TAREL_FPGA, fpga}});
        const QByteArray pinned = TestBytes::readFile(path);
        PackageBuilder other;
        other.addPart(IMG_TAREL_APP, partData('x'));
        other.addPart(IMG_TAREL_FPGA, partData('y'));
        auto changed = std::make_shared<std::atomic<bool>>(false);
        const auto overwrite = [=] { changed->store(other.write(path)); };
        if (whileSplit)
            LogCapture::onMessage(QStringLiteral("upgradeImag_parse_tarel_sky"), overwrite);
        else
            onRequest(sim(), AR_CMD_SENDFILE_DATA, 1, overwrite);
        QVERIFY(runPackage(path));
        QVERIFY(changed->load());

        QCOMPARE(device().received(), (whileSplit ? QList<QByteArray>{} : QList<QByteArray>{fpga, app}));
        QCOMPARE(recorder().hints(), whileSplit ? QStringList{Faults::FileChanged} : QStringList{});
        QCOMPARE(recorder().progress().contains(100), !whileSplit);
        if (whileSplit)
            QVERIFY(sim().frames().isEmpty());
        QCOMPARE(m_rig->worker->upgradeFileMd5(), QCryptographicHash::hash(pinned, QCryptographicHash::Md5).toHex());
        QVERIFY(noPartsLeft());
    }

    void cancelledPackage_leavesNoPartBehind()
    {
        // A file of the user's own, named like a part, beside the package.
        QVERIFY(TestBytes::writeFile(QStringLiteral("app.bin"), "the user's own"));
        sim().setReplyDelay(2);
        QFuture<void> task = m_rig->launch(writePackage({{IMG_TAREL_APP, partData('a', 400 * 1024)}}),
                                           UpgradeKind::Package);
        QTRY_VERIFY_WITH_TIMEOUT(device().framesOf(AR_CMD_SENDFILE_DATA).size() > 10, 20000);
        m_rig->worker->resetUpgradeParameters(1);
        task.waitForFinished();
        QVERIFY(recorder().hints().isEmpty());
        QVERIFY(sim().receivedFiles().isEmpty());
        QVERIFY(noPartsLeft());
        QCOMPARE(TestBytes::readFile(QStringLiteral("app.bin")), QByteArray("the user's own"));
    }

    void everyDataFrame_waitsTheLongAcknowledgement()
    {
        sim().setSilent(true, AR_CMD_SENDFILE_DATA);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, partData('a', 500)}})));
        QCOMPARE(device().framesOf(AR_CMD_SENDFILE_DATA).size(), int(UpgradeChannel::RequestTransmissions));
        QVERIFY2(timer.elapsed() >= UpgradeChannel::RequestTransmissions * ScaledClock(FastFactor).replyWaitMs(UpgradeChannel::SensorAckTimeoutMs),
                 qPrintable(QString::number(timer.elapsed())));
    }

private:
    QString writePackage(const QList<QPair<IMG_TYPE, QByteArray>> &parts)
    {
        PackageBuilder builder;
        builder.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
        for (const auto &part : parts)
            builder.addPart(part.first, part.second);
        return m_rig->writeFile(PackageName, builder.bytes());
    }
    bool runPackage(const QString &path) { return m_rig->run(path, UpgradeKind::Package); }
    bool noPartsLeft() const { return m_temp->noPartsLeft(); }
    DeviceSimulator &sim() const { return m_rig->device.sim; }
    SimulatedDevice &device() const { return m_rig->device; }
    UpgradeRecorder &recorder() const { return *m_rig->recorder; }

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<UpgradeRun::ProgramTempDir> m_temp;
    std::unique_ptr<WorkerOnDevice> m_rig;
};

QTEST_GUILESS_MAIN(TestMultiImageUpgrade)
#include "tst_multiimageupgrade.moc"
