#include "faultinjection.h"
#include "logsystem.h"
#include "packagebuilder.h"
#include "upgraderun.h"

#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

namespace {
constexpr int FastFactor = 100;
constexpr int RebootDelayMs = 100;
constexpr int DefaultUpgrades = 24;     // the test command's short soak; TAVIO_SOAK_UPGRADES=200 for the full one
constexpr int WarmUpUpgrades = 4;       // memory is compared from here on
constexpr qint64 MaxGrowthKiB = 16 * 1024;
constexpr quint32 DefaultSeed = 20261206;

// Faults whose outcome comes within a second of fast time.
using Faults::Fault;
const QList<Fault> QuickFaults = {Fault::Healthy, Fault::VanishAtAnnouncement, Fault::VanishInTransfer,
                                  Fault::VanishAtFileEnd, Fault::Duplicates, Fault::Late, Fault::BadLength,
                                  Fault::Refusal, Fault::OtherSeq};

qint64 statusKiB(const char *field)
{
    for (const QByteArray &line : TestBytes::readFile(QStringLiteral("/proc/self/status")).split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
}
} // namespace

// Many upgrades in a row, single images and packages, each with a seeded
// random fault, through one link and one worker, logging into a real log.txt.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void consecutiveUpgrades_endAsTheirFaultsSayAndLeaveNothingBehind()
    {
        const int upgrades = qEnvironmentVariableIsSet("TAVIO_SOAK_UPGRADES")
                ? qMax(WarmUpUpgrades + 1, qEnvironmentVariableIntValue("TAVIO_SOAK_UPGRADES")) : DefaultUpgrades;
        const quint32 seed = qEnvironmentVariableIsSet("TAVIO_SOAK_SEED")
                ? quint32(qEnvironmentVariableIntValue("TAVIO_SOAK_SEED")) : DefaultSeed;
        QRandomGenerator random(seed);

        UpgradeRun::WorkerOnDevice rig;
        QVERIFY(rig.start(FastFactor, RebootDelayMs));
        SimulatedDevice &device = rig.device;
        QVERIFY(QDir::setCurrent(device.dir.path()));
        UpgradeRun::ProgramTempDir temp; // part folders must not pile up there
        QVERIFY(temp.dir.isValid());
        qInstallMessageHandler(customMessageHandler); // the program's own log.txt
        const QByteArray image(3000, 'i');
        const QString imagePath = rig.writeFile(QStringLiteral("Merlow_R_Sky_1_0_6.img"), image);
        PackageBuilder package;
        package.addPart(IMG_TAREL_APP, image);
        const QString packagePath = rig.writeFile(QStringLiteral("Merlow_R_Sky_1_0_7.img"), package.bytes());

        qint64 rssAfterWarmUp = 0;
        int descriptorsAfterWarmUp = 0;
        int descriptorsAtMost = 0;  // after warm-up, each time the device is connected again
        int normalRestarts = 0;     // a package that succeeds ends with a normal restart
        for (int i = 0; i < upgrades; ++i) {
            const Faults::FaultRow &fault = Faults::row(QuickFaults.at(int(random.bounded(quint32(QuickFaults.size())))));
            const bool asPackage = random.bounded(2u) == 1;
            device.link->closeSerialPort();
            QTRY_VERIFY(device.sim.isPresent());
            QVERIFY(rig.connect());
            // Counted with the port open and no upgrade running, the same state every time.
            if (i == WarmUpUpgrades)
                descriptorsAfterWarmUp = openDescriptors();
            else if (i > WarmUpUpgrades)
                descriptorsAtMost = qMax(descriptorsAtMost, openDescriptors());
            Faults::inject(fault.fault, &device.sim, FastFactor);

            QFuture<void> task = asPackage ? rig.launch(packagePath, UpgradeKind::Package)
                                           : rig.launch(imagePath, UpgradeKind::SingleImage);
            const QString what = QStringLiteral("upgrade %1 (%2%3, seed %4)")
                    .arg(i).arg(QLatin1String(fault.name), asPackage ? QStringLiteral(", package") : QString()).arg(seed);
            QTRY_VERIFY2_WITH_TIMEOUT(task.isFinished(), qPrintable(what), 30000);
            // Each fault's own hint is the bench workflow's fault table's to check.
            const QString &hint = fault.hint;
            if (hint.isEmpty())
                QCOMPARE(device.sim.receivedFiles().last().data, image);
            QVERIFY(!rig.worker->isSequenceRunning());
            QVERIFY(temp.noPartsLeft());

            // The next connection waits for that restart, as a user would.
            if (asPackage && hint.isEmpty()) {
                ++normalRestarts;
                QTRY_COMPARE(device.sim.rebootModes().count(QStringLiteral("normal")), normalRestarts);
            }
            Faults::heal(&device.sim, RebootDelayMs);
            if (i + 1 == WarmUpUpgrades)
                rssAfterWarmUp = statusKiB("VmRSS:");
        }
        const qint64 rssAtEnd = statusKiB("VmRSS:");
        qInstallMessageHandler(nullptr);
        LogSystem::instance()->shutdown();

        qInfo("soak: %d upgrades, seed %u; RSS %lld KiB after warm-up, %lld KiB at the end; %d descriptors, then at most %d",
              upgrades, seed, rssAfterWarmUp, rssAtEnd, descriptorsAfterWarmUp, descriptorsAtMost);
    #ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer holds freed memory in quarantine, so resident size says
        // nothing there; its leak check covers that build instead.
        QVERIFY(rssAtEnd - rssAfterWarmUp < MaxGrowthKiB);
    #endif
        QVERIFY(descriptorsAtMost <= descriptorsAfterWarmUp);

        // The log stays under its limit and holds whole lines only.
        QFile log(QStringLiteral("log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.size() <= LogFile::MaxFileBytes);
        const QRegularExpression wholeLine(QStringLiteral(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[(DEBUG|INFO|WARNING|ERROR|FATAL)\\] "));
        int lines = 0;
        while (!log.atEnd()) {
            const QByteArray line = log.readLine();
            QVERIFY2(line.endsWith('\n') && wholeLine.match(QString::fromUtf8(line)).hasMatch(), line.constData());
            ++lines;
        }
        QVERIFY(lines > upgrades);
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
