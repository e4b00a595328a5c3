#include "logcapture.h"
#include "packagebuilder.h"
#include "simulateddevice.h"
#include "upgradeprocess.h"
#include "upgraderecorder.h"
#include "upgraderun.h"

#include <QtConcurrent>
#include <QtTest>

namespace {
constexpr int FastFactor = 100;
constexpr int PartBytes = 2048; // two segments of 1024: the bar reaches each part's share exactly

QByteArray partData(char seed, int size = PartBytes)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 17);
    return bytes;
}

} // namespace

// Upgrades from a multi-image package against the simulated device.
class TestMultiImageUpgrade : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void threeParts_goLastFirstAndOnlyTheApplicationReboots();
    void onePart_barFollowsTheTransferToTheEnd();
    void partVerdict_isActedUpon_data();
    void partVerdict_isActedUpon();
    void partThatCannotBeOpened_endsThePackage();
    void unusablePackage_isRefusedBeforeAnythingIsSent_data();
    void unusablePackage_isRefusedBeforeAnythingIsSent();
    void cancelledPackage_leavesNoPartBehind();
    void everyDataFrame_waitsTheLongAcknowledgement();
    void onlyTheApplicationPartReboots_data();
    void onlyTheApplicationPartReboots();

private:
    void prepare();
    QString writePackage(const QList<QPair<IMG_TYPE, QByteArray>> &parts);
    bool runPackage(const QString &path, int timeoutMs = 30000);

    // No folder of part files is left in the temporary folder.
    bool noPartsLeft() const;

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<QTemporaryDir> m_tempDir; // the program's temporary folder in this test
    QByteArray m_previousTempDir;
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
};

void TestMultiImageUpgrade::init()
{
    m_log.reset(new LogCapture);
    m_tempDir.reset(new QTemporaryDir);
    QVERIFY(m_tempDir->isValid());
    m_previousTempDir = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(m_tempDir->path()));
    DeviceIdentity identity;
    identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6;
    m_device.reset(new SimulatedDevice(identity));
    QVERIFY(m_device->start());
    QVERIFY(QDir::setCurrent(m_device->dir.path())); // the user's folder: no part may land here
    m_device->sim.setRebootDelay(150);
    m_worker.reset(new UpgradeProcess(m_device->link.get(), std::make_shared<ScaledClock>(FastFactor)));
    m_recorder.reset(new UpgradeRecorder(m_worker.get()));
    QVERIFY(m_device->open());
    QCOMPARE(m_device->link->commandSerialSend(AR_COMMAND_FIND_DEVICE, 1, 2, 0, nullptr, 0, 1, 2000), 0);
    m_upgrade_device_vid = identity.vendorId;
    m_device->sim.clearFrames();
}

void TestMultiImageUpgrade::cleanup()
{
    m_recorder.reset();
    m_worker.reset();
    QDir::setCurrent(QDir::tempPath());
    m_device.reset();
    qputenv("TMPDIR", m_previousTempDir);
    m_tempDir.reset();
    m_log.reset();
    m_upgrade_device_vid = 0;
}

bool TestMultiImageUpgrade::noPartsLeft() const
{
    return QDir(m_tempDir->path()).entryList({QStringLiteral("tavio-parts-*")}, QDir::AllEntries).isEmpty();
}

QString TestMultiImageUpgrade::writePackage(const QList<QPair<IMG_TYPE, QByteArray>> &parts)
{
    PackageBuilder builder;
    builder.setBoardType(AR_FPV_BOARD_TYPE_SKY_EX6);
    for (const auto &part : parts)
        builder.addPart(part.first, part.second);
    const QString path = m_device->dir.filePath(QStringLiteral("Merlow_R_Sky_1_0_6.img"));
    QString error;
    if (!builder.write(path, &error))
        qWarning("%s", qPrintable(error));
    return path;
}

bool TestMultiImageUpgrade::runPackage(const QString &path, int timeoutMs)
{
    return UpgradeRun::finish(QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess_tarel_sky, path),
                              m_worker.get(), timeoutMs)
            && !m_worker->isSequenceRunning();
}

void TestMultiImageUpgrade::threeParts_goLastFirstAndOnlyTheApplicationReboots()
{
    const QByteArray app = partData('a'), fpga = partData('f'), sensor = partData('s');
    QList<int> vidDuringAnnouncements; // written on the simulator's thread, read after it is idle
    QObject::connect(&m_device->sim, &DeviceSimulator::frameReceived, &m_device->sim,
                     [&](const SimFrameRecord &frame) {
                         if (frame.command == AR_CMD_SENDFILE_START)
                             vidDuringAnnouncements.append(m_upgrade_device_vid.load());
                     }, Qt::DirectConnection);
    QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, app}, {IMG_TAREL_FPGA, fpga}, {IMG_TAREL_8333_SENSOR, sensor}})));

    const auto files = m_device->sim.receivedFiles();
    QCOMPARE(files.size(), 3);
    const QList<QPair<QByteArray, int>> expected = {{"/tmp/pc/sensor.bin", 8}, {"/tmp/pc/fpga.bin", 7},
                                                    {"/tmp/pc/app.bin", 6}};
    const QList<QByteArray> data = {sensor, fpga, app};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(QByteArray(files.at(i).announcement.filePath), expected.at(i).first);
        QCOMPARE(files.at(i).announcement.saveAsFile, expected.at(i).second);
        const QFileInfo local(QString::fromUtf8(files.at(i).announcement.fileDir));
        QCOMPARE(local.fileName(), QString::fromUtf8(expected.at(i).first).section('/', -1));
        QCOMPARE(local.absolutePath().section('/', 0, -2), QDir(m_tempDir->path()).absolutePath());
        QVERIFY(!local.dir().exists()); // gone with the upgrade
        QCOMPARE(files.at(i).data, data.at(i));
    }
    const QList<quint32> part = {AR_CMD_REMOTE_UPGRADE, AR_CMD_SENDFILE_START, AR_CMD_SENDFILE_DATA,
                                 AR_CMD_SENDFILE_END};
    QCOMPARE(UpgradeRun::phases(m_device->commands()),
             part + part + QList<quint32>{AR_COMMAND_GET_ACTIVE} + part + QList<quint32>{AR_COMMAND_GET_ACTIVE});
    QTRY_COMPARE(m_device->sim.rebootModes(), (QStringList{"clean", "normal"}));
    QCOMPARE(m_recorder->progress(), (QList<int>{33, 33, 66, 66, 99, 99, 100}));
    QCOMPARE(LogCapture::count(QStringLiteral("fpv no need reboot.")), 2);
    QCOMPARE(LogCapture::count(QStringLiteral("max etry sent failed")), 0); // every part had reception
    QCOMPARE(vidDuringAnnouncements, (QList<int>{7542, 7542, 7542}));
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_device->framesOf(AR_CMD_UPGRADE_STATUS).isEmpty());
    QVERIFY(noPartsLeft());
    QVERIFY(QDir::current().entryList({QStringLiteral("*.bin")}).isEmpty());
}

void TestMultiImageUpgrade::onePart_barFollowsTheTransferToTheEnd()
{
    QVERIFY(runPackage(writePackage({{IMG_TAREL_FPGA, partData('f', 3000)}})));
    // 100 only once the device has accepted the part.
    QCOMPARE(m_recorder->progress(), (QList<int>{68, 99, 100}));
    QTRY_COMPARE(m_device->sim.rebootModes(), QStringList{"normal"});
    QCOMPARE(m_device->sim.receivedFiles().size(), 1);
}

void TestMultiImageUpgrade::partVerdict_isActedUpon_data()
{
    QTest::addColumn<QList<int>>("verdicts");
    QTest::addColumn<bool>("silentFileEnd");
    QTest::addColumn<int>("announcements");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("refused once, then accepted") << QList<int>{-1, 0, 0} << false << 3 << true;
    QTest::newRow("refused every time") << QVector<int>(6, -1).toList() << false << 6 << false;
    QTest::newRow("another verdict") << QList<int>{3} << false << 1 << false;
    QTest::newRow("no verdict") << QList<int>{} << true << 1 << false;
}

// Parts are sent "other" first, then the FPGA image. A part the device does
// not take is sent again like a single image, and in the end fails the
// package: the next part is not sent and the bar never shows 100.
void TestMultiImageUpgrade::partVerdict_isActedUpon()
{
    QFETCH(QList<int>, verdicts);
    QFETCH(bool, silentFileEnd);
    QFETCH(int, announcements);
    QFETCH(bool, succeeds);
    m_device->sim.setVerdicts(verdicts);
    m_device->sim.setSilent(silentFileEnd, AR_CMD_SENDFILE_END);
    QVERIFY(runPackage(writePackage({{IMG_TAREL_FPGA, partData('f')}, {IMG_UNKNOWN, partData('o')}})));

    QCOMPARE(m_device->requestsOf(AR_CMD_SENDFILE_START).size(), announcements);
    const QList<SimFrameRecord> announced = m_device->requestsOf(AR_CMD_SENDFILE_START);
    for (int i = 0; i < announced.size(); ++i) {
        const bool lastOfSuccess = succeeds && i + 1 == announced.size();
        QCOMPARE(QByteArray(reinterpret_cast<const ar_file_info *>(announced.at(i).payload.constData())->filePath),
                 QByteArray(lastOfSuccess ? "/tmp/pc/fpga.bin" : "/tmp/pc/other.bin"));
    }
    if (succeeds) {
        QVERIFY(m_recorder->hints().isEmpty());
        QCOMPARE(m_recorder->progress().last(), 100);
        QCOMPARE(m_device->sim.receivedFiles().last().data, partData('f'));
        QTRY_COMPARE(m_device->sim.rebootModes(), QStringList{"normal"});
    } else {
        QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("升级固件传输失败，请重启设备再次升级。")});
        QVERIFY(!m_recorder->progress().contains(100));
        QVERIFY(m_device->sim.rebootModes().isEmpty());
    }
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QVERIFY(noPartsLeft());
}

void TestMultiImageUpgrade::partThatCannotBeOpened_endsThePackage()
{
    // The FPGA part disappears while the sensor part (sent first) ends.
    QString fpgaPart;
    QObject::connect(&m_device->sim, &DeviceSimulator::frameReceived, &m_device->sim,
                     [&fpgaPart](const SimFrameRecord &frame) {
                         if (frame.command == AR_CMD_SENDFILE_START && fpgaPart.isEmpty()) {
                             const ar_file_info *info = reinterpret_cast<const ar_file_info *>(frame.payload.constData());
                             fpgaPart = QFileInfo(QString::fromUtf8(info->fileDir)).dir().filePath(QStringLiteral("fpga.bin"));
                         } else if (frame.command == AR_CMD_SENDFILE_END) {
                             QFile::remove(fpgaPart);
                         }
                     }, Qt::DirectConnection);
    QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, partData('a')}, {IMG_TAREL_FPGA, partData('f')},
                                     {IMG_TAREL_8333_SENSOR, partData('s')}})));
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("打开升级固件失败!")});
    QVERIFY(m_recorder->view().contains(QStringLiteral("open upgrade firmware fail!")));
    const auto files = m_device->sim.receivedFiles();
    QCOMPARE(files.size(), 1);
    QCOMPARE(QByteArray(files.last().announcement.filePath), QByteArray("/tmp/pc/sensor.bin"));
    QVERIFY(m_device->framesOf(AR_COMMAND_GET_ACTIVE).isEmpty()); // the application part never started
    QVERIFY(!m_recorder->progress().contains(100));
    QVERIFY(noPartsLeft());
}

void TestMultiImageUpgrade::unusablePackage_isRefusedBeforeAnythingIsSent_data()
{
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QString>("message");
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, partData('a'));
    builder.addPart(IMG_TAREL_FPGA, partData('f'));
    const QByteArray whole = builder.bytes();
    QByteArray wrongMagic = whole;
    wrongMagic.replace(0, 4, "XXXX");
    IMG_HEAD_INFO_EX pastTheEnd = builder.header();
    pastTheEnd.subImgInfo[1].u32subimgoffset = quint32(whole.size() + 100);
    PackageBuilder nothingMarked;
    nothingMarked.addPart(IMG_TAREL_APP, partData('a'), false);
    QTest::newRow("wrong magic") << wrongMagic << QStringLiteral("升级包格式错误，请检查升级固件是否正确！");
    // Cut inside the first sub-image: the second starts past the end.
    QTest::newRow("truncated") << whole.left(int(sizeof(IMG_HEAD_INFO_EX)) + PartBytes / 2)
                               << QStringLiteral("升级包已损坏或不完整，请检查升级固件是否正确！");
    QTest::newRow("sub-image past its end")
        << PackageBuilder::headerBytes(pastTheEnd) + builder.payload()
        << QStringLiteral("升级包已损坏或不完整，请检查升级固件是否正确！");
    QTest::newRow("no part to upgrade") << nothingMarked.bytes()
                                        << QStringLiteral("升级包中没有需要升级的固件，请检查升级固件是否正确！");
}

void TestMultiImageUpgrade::unusablePackage_isRefusedBeforeAnythingIsSent()
{
    QFETCH(QByteArray, package);
    QFETCH(QString, message);
    const QString path = m_device->dir.filePath(QStringLiteral("Merlow_R_Sky_1_0_6.img"));
    QVERIFY(PackageBuilder::writeBytes(path, package));
    QVERIFY(runPackage(path, 5000));
    QCOMPARE(m_recorder->notStarted(), QStringList{message});
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_recorder->progress().isEmpty());
    QVERIFY(m_device->sim.frames().isEmpty());
    QCOMPARE(m_upgrade_device_vid.load(), 0);
    QVERIFY(noPartsLeft());
}

void TestMultiImageUpgrade::cancelledPackage_leavesNoPartBehind()
{
    // A file of the user's own, named like a part, beside the package.
    QFile own(QStringLiteral("app.bin"));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write("the user's own");
    own.close();
    m_device->sim.setReplyDelay(2);
    QFuture<void> task = QtConcurrent::run(m_worker.get(), &UpgradeProcess::upgradeProcess_tarel_sky,
                                           writePackage({{IMG_TAREL_APP, partData('a', 400 * 1024)}}));
    QTRY_VERIFY_WITH_TIMEOUT(m_device->framesOf(AR_CMD_SENDFILE_DATA).size() > 10, 20000);
    m_worker->resetUpgradeParameters(1);
    task.waitForFinished();
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_device->sim.receivedFiles().isEmpty());
    QVERIFY(noPartsLeft());
    QVERIFY(own.open(QIODevice::ReadOnly));
    QCOMPARE(own.readAll(), QByteArray("the user's own"));
}

void TestMultiImageUpgrade::everyDataFrame_waitsTheLongAcknowledgement()
{
    m_device->sim.setSilent(true, AR_CMD_SENDFILE_DATA);
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, partData('a', 500)}})));
    QCOMPARE(m_device->framesOf(AR_CMD_SENDFILE_DATA).size(), 5);
    QVERIFY2(timer.elapsed() >= 5 * UpgradeProcess::SensorAckTimeoutMs / FastFactor,
             qPrintable(QString::number(timer.elapsed())));
}

void TestMultiImageUpgrade::onlyTheApplicationPartReboots_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("reboots");
    for (int type = IMG_BOOT; type <= IMG_UNKNOWN; ++type)
        QTest::newRow(qPrintable(QString::number(type))) << type << (type == IMG_TAREL_APP);
}

void TestMultiImageUpgrade::onlyTheApplicationPartReboots()
{
    QFETCH(int, type);
    QFETCH(bool, reboots);
    QCOMPARE(UpgradeProcess::partReboots(type), reboots);
}

QTEST_GUILESS_MAIN(TestMultiImageUpgrade)
#include "tst_multiimageupgrade.moc"
