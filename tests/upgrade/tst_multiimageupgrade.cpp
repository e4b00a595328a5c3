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
    void refusedPart_isNotResentAndTheNextFollows();
    void partThatCannotBeOpened_isReportedAndTheNextIsSent();
    void rejectedPackage_returnsAtOnceWithoutAWord();
    void everyDataFrame_waitsTheLongAcknowledgement();
    void onlyTheApplicationPartReboots_data();
    void onlyTheApplicationPartReboots();

private:
    void prepare();
    QString writePackage(const QList<QPair<IMG_TYPE, QByteArray>> &parts);
    bool runPackage(const QString &path, int timeoutMs = 30000);

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<UpgradeProcess> m_worker;
    std::unique_ptr<UpgradeRecorder> m_recorder;
};

void TestMultiImageUpgrade::init()
{
    m_log.reset(new LogCapture);
    DeviceIdentity identity;
    identity.vendorId = AR_FPV_BOARD_TYPE_SKY_EX6;
    m_device.reset(new SimulatedDevice(identity));
    QVERIFY(m_device->start());
    QVERIFY(QDir::setCurrent(m_device->dir.path())); // the parts are written here
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
    m_log.reset();
    m_upgrade_device_vid = 0;
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
        QCOMPARE(QString::fromUtf8(files.at(i).announcement.fileDir),
                 QDir::current().filePath(QString::fromUtf8(expected.at(i).first).section('/', -1)));
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
}

void TestMultiImageUpgrade::onePart_barFollowsTheTransferToTheEnd()
{
    QVERIFY(runPackage(writePackage({{IMG_TAREL_FPGA, partData('f', 3000)}})));
    QCOMPARE(m_recorder->progress(), (QList<int>{68, 100, 100}));
    QTRY_COMPARE(m_device->sim.rebootModes(), QStringList{"normal"});
    QCOMPARE(m_device->sim.receivedFiles().size(), 1);
}

void TestMultiImageUpgrade::refusedPart_isNotResentAndTheNextFollows()
{
    m_device->sim.setVerdicts({-1});
    QVERIFY(runPackage(writePackage({{IMG_TAREL_FPGA, partData('f')}, {IMG_UNKNOWN, partData('o')}})));
    const auto files = m_device->sim.receivedFiles();
    QCOMPARE(files.size(), 2);
    QCOMPARE(files.first().verdict, -1);
    QCOMPARE(QByteArray(files.first().announcement.filePath), QByteArray("/tmp/pc/other.bin"));
    QCOMPARE(m_device->framesOf(AR_CMD_SENDFILE_START).size(), 2);
    QVERIFY(m_recorder->hints().isEmpty());
}

void TestMultiImageUpgrade::partThatCannotBeOpened_isReportedAndTheNextIsSent()
{
    // The FPGA part disappears while the sensor part (sent first) ends.
    QObject::connect(&m_device->sim, &DeviceSimulator::frameReceived, &m_device->sim,
                     [](const SimFrameRecord &frame) {
                         if (frame.command == AR_CMD_SENDFILE_END)
                             QFile::remove(QStringLiteral("fpga.bin"));
                     }, Qt::DirectConnection);
    QVERIFY(runPackage(writePackage({{IMG_TAREL_APP, partData('a')}, {IMG_TAREL_FPGA, partData('f')},
                                     {IMG_TAREL_8333_SENSOR, partData('s')}})));
    QCOMPARE(m_recorder->hints(), QStringList{QStringLiteral("打开升级固件失败!")});
    QVERIFY(m_recorder->view().contains(QStringLiteral("open upgrade firmware fail!")));
    const auto files = m_device->sim.receivedFiles();
    QCOMPARE(files.size(), 2);
    QCOMPARE(QByteArray(files.last().announcement.filePath), QByteArray("/tmp/pc/app.bin"));
    QCOMPARE(files.last().data, partData('a'));
}

void TestMultiImageUpgrade::rejectedPackage_returnsAtOnceWithoutAWord()
{
    const QString path = writePackage({{IMG_TAREL_APP, partData('a')}});
    QFile package(path);
    QVERIFY(package.open(QIODevice::ReadWrite));
    package.write("XXXX"); // wrong magic
    package.close();
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runPackage(path));
    QVERIFY(timer.elapsed() < 1000);
    QVERIFY(m_recorder->progress().isEmpty());
    QVERIFY(m_recorder->view().isEmpty());
    QVERIFY(m_recorder->hints().isEmpty());
    QVERIFY(m_device->sim.frames().isEmpty());
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
