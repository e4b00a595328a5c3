#include "firmwarechooser.h"
#include "firmwarechoicetext.h"
#include "firmwareshelves.h"
#include "stagedimage.h"
#include "upgraderun.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using Verdict = FirmwareChoice::Verdict;
using Problem = FirmwareArchive::Problem;
Q_DECLARE_METATYPE(Verdict)
Q_DECLARE_METATYPE(Problem)

// A zip whose bytes are changed where they tell something KArchive reads.
enum class Damage { None, ClimbingName, AbsoluteName, Link, Encrypted, DeclaresTooMuch, ExpandsBeyondDeclared,
                    CorruptData, Truncated, NotAZip, NamedPipe };
Q_DECLARE_METATYPE(Damage)

namespace {
const QStringList Bundle{"Merlow_R_Gnd_1_0_7.img", "Merlow_R_Sky_1_0_6.img", "new/Merlow_R_Sky_1_0_10.img",
                         "old/Merlow_R_Sky_1_0_4.img", "README.txt", "Merlow_R_Gnd_1_0_4.img"};

const QByteArray CentralHeader("PK\x01\x02", 4);
const QByteArray LocalHeader("PK\x03\x04", 4);
constexpr int CentralUncompressedSize = 24;
constexpr int LocalFlag = 6;
constexpr int CorruptFromEnd = 50;
constexpr rlim_t FullDiskBytes = 5000; // of the 20000 the entry holds

bool writeHostileZip(const QString &path, Damage damage)
{
    const QString name = damage == Damage::ClimbingName ? "fw/../../Merlow_R_Sky_1_0_6.img"
                         : damage == Damage::AbsoluteName ? "/tmp/Merlow_R_Sky_1_0_6.img"
                                                          : "Merlow_R_Sky_1_0_6.img";
    // Zeros deflate to almost nothing: what a bomb is made of.
    const QByteArray data = damage == Damage::ExpandsBeyondDeclared ? QByteArray(1 << 20, '\0')
                                                                    : TestBytes::pattern(20000, 3);
    {
        KZip zip(path);
        if (!zip.open(QIODevice::WriteOnly) || !zip.writeFile(name, data))
            return false;
        if (damage == Damage::Link && !zip.writeSymLink("Merlow_R_Sky_1_0_7.img", "/etc/passwd"))
            return false;
        zip.close();
    }
    QByteArray bytes = TestBytes::readFile(path);
    const int central = bytes.indexOf(CentralHeader);
    switch (damage) {
    case Damage::Encrypted:
        bytes[LocalFlag] = char(bytes.at(LocalFlag) | 1);
        break;
    case Damage::DeclaresTooMuch:
        qToLittleEndian<quint32>(0xfffffff0u, bytes.data() + central + CentralUncompressedSize);
        break;
    case Damage::ExpandsBeyondDeclared:
        qToLittleEndian<quint32>(1000u, bytes.data() + central + CentralUncompressedSize);
        break;
    case Damage::CorruptData: // near the end of the data: its start still reads
        bytes[central - CorruptFromEnd] = char(~bytes.at(central - CorruptFromEnd));
        break;
    case Damage::Truncated:
        bytes.truncate(central + 10);
        break;
    case Damage::NotAZip:
        bytes = TestBytes::pattern(5000, 1);
        break;
    case Damage::NamedPipe: // opening it to read would wait for a writer for good
        return QFile::remove(path) && mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    default:
        break;
    }
    return TestBytes::writeFile(path, bytes);
}
} // namespace

class TestFirmwareChoice : public QObject
{
    Q_OBJECT

private slots:
    void choose_takesTheNewestThatFits_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<int>("boardType");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("reasons"); // every candidate's, in path order
        const int air = AR_FPV_BOARD_TYPE_GT_SKY, ground = AR_FPV_BOARD_TYPE_GT_GND, multi = AR_FPV_BOARD_TYPE_SKY_EX6;
        QTest::newRow("air unit: its newest, in a sub-folder") << Bundle << QByteArray("Merlow_R_Sky_1_0_5") << air
            << Verdict::Chosen << "new/Merlow_R_Sky_1_0_10.img"
            << "other-device other-device older chosen version-too-low";
        QTest::newRow("ground unit: its own newest") << Bundle << QByteArray("Merlow_R_Gnd_1_0_5") << ground
            << Verdict::Chosen << "Merlow_R_Gnd_1_0_7.img"
            << "version-too-low chosen other-device other-device other-device";
        QTest::newRow("two of the newest version differ") << QStringList{"a/Merlow_R_Sky_1_0_6.img=i1",
            "b/Merlow_R_Sky_1_0_6.img=i2", "Merlow_R_Sky_1_0_5.img"} << QByteArray("Merlow_R_Sky_1_0_5") << air
            << Verdict::Ambiguous << "a/Merlow_R_Sky_1_0_6.img" << "older different-content different-content";
        QTest::newRow("two of the newest version alike") << QStringList{"a/Merlow_R_Sky_1_0_6.img=i1",
            "b/Merlow_R_Sky_1_0_6_0.img=i1"} << QByteArray("Merlow_R_Sky_1_0_5") << air
            << Verdict::Chosen << "a/Merlow_R_Sky_1_0_6.img" << "chosen same-content";
        QTest::newRow("nothing fits") << QStringList{"Merlow_R_Gnd_1_0_9.img", "Merlow_R_Sky_1_0_4.img",
            "Merlow_R_Sky_1_0_9.img=p1", "Merlow_R_Sky_1_1_0.img=e"} << QByteArray("Merlow_R_Sky_1_0_5") << air
            << Verdict::NothingFits << "" << "other-device version-too-low package-for-single-image-device empty";
        QTest::newRow("up to date") << QStringList{"Merlow_R_Sky_1_0_3.img", "Merlow_R_Sky_1_0_5.img"}
            << QByteArray("Merlow_R_Sky_1_0_5") << air << Verdict::UpToDate << "Merlow_R_Sky_1_0_5.img"
            << "version-too-low chosen";
        const QStringList sameName{"image/Merlow_R_Sky_1_0_6.img=i1", "package/Merlow_R_Sky_1_0_6.img=p1"};
        QTest::newRow("single-image line: the image, not the package") << sameName
            << QByteArray("Merlow_R_Sky_1_0_5") << air << Verdict::Chosen << "image/Merlow_R_Sky_1_0_6.img"
            << "chosen package-for-single-image-device";
        QTest::newRow("multi-image line: the package, not the image") << sameName
            << QByteArray("Merlow_R_Sky_1_0_5") << multi << Verdict::Chosen << "package/Merlow_R_Sky_1_0_6.img"
            << "image-for-package-device chosen";
    }

    // The same files in a folder and in a zip archive come to the same choice.
    void choose_takesTheNewestThatFits()
    {
        QFETCH(QStringList, files);
        QFETCH(QByteArray, firmware);
        QFETCH(int, boardType);
        QFETCH(Verdict, verdict);
        QFETCH(QString, chosen);
        QFETCH(QString, reasons);
        QTemporaryDir dir;
        const QString folder = dir.filePath("release"), archive = dir.filePath("release.zip");
        QVERIFY(FirmwareShelves::writeFolder(folder, files) && FirmwareShelves::writeZip(archive, files));
        for (const QString &source : {folder, archive}) {
            const FirmwareChoice choice = FirmwareChooser::choose(source, firmware.constData(), boardType);
            QCOMPARE(choice.verdict, verdict);
            QStringList got;
            for (const FirmwareChoice::Candidate &candidate : choice.candidates)
                got.append(FirmwareChoiceText::reasonCode(candidate.reason));
            QCOMPARE(got.join(' '), reasons);
            if (verdict == Verdict::NothingFits) {
                const QString refusal = FirmwareChoiceText::refusal(choice);
                QVERIFY2(refusal.contains("Merlow_R_Sky") && refusal.contains("1_0_5")
                             && refusal.contains(choice.nearestMisses(1).value(0).shownPath), qPrintable(refusal));
                QCOMPARE(choice.nearestMisses(1).value(0).shownPath, QString("Merlow_R_Sky_1_0_9.img"));
                continue;
            }
            QCOMPARE(choice.chosen.shownPath, chosen);
            QCOMPARE(choice.sends(false), verdict == Verdict::Chosen);
            if (verdict == Verdict::Ambiguous)
                QVERIFY(FirmwareChoiceText::refusal(choice).contains(choice.rival.shownPath));
            // What is sent is the chosen file's bytes, under its own name.
            const StagedImage staged(choice.chosen.location);
            QCOMPARE(QFileInfo(staged.path()).fileName(), QFileInfo(chosen).fileName());
            QCOMPARE(TestBytes::readFile(staged.path()),
                     FirmwareShelves::content(files.filter(chosen).value(0)));
        }
    }

    void choose_endsEarlyWhenToldToStop_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("answers"); // yes before the first no
        QTest::addColumn<Verdict>("verdict");
        const QStringList alike{"a/Merlow_R_Sky_1_0_6.img=i1", "b/Merlow_R_Sky_1_0_6.img=i1"};
        QTest::newRow("a folder, at once") << "release" << Bundle << 0 << Verdict::Unusable;
        QTest::newRow("a folder, once listed") << "release" << Bundle << int(Bundle.size()) << Verdict::Unusable;
        QTest::newRow("a zip, at once") << "release.zip" << Bundle << 0 << Verdict::Unusable;
        QTest::newRow("a zip, before reading two alike whole") << "release.zip" << alike << int(alike.size())
                                                               << Verdict::Unusable;
        QTest::newRow("never told") << "release" << Bundle << 1000 << Verdict::Chosen;
    }

    // The window's search stops when the user lets the device go or closes
    // the window: a large folder must not hold the program up.
    void choose_endsEarlyWhenToldToStop()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, files);
        QFETCH(int, answers);
        QFETCH(Verdict, verdict);
        QTemporaryDir dir;
        const QString path = dir.filePath(source);
        QVERIFY(source.endsWith(".zip") ? FirmwareShelves::writeZip(path, files)
                                        : FirmwareShelves::writeFolder(path, files));
        int asked = 0;
        const FirmwareChoice choice = FirmwareChooser::choose(path, "Merlow_R_Sky_1_0_5", AR_FPV_BOARD_TYPE_GT_SKY,
                                                              [&] { return asked++ < answers; });
        QCOMPARE(choice.verdict, verdict);
        if (verdict == Verdict::Unusable)
            QCOMPARE(asked, answers + 1); // nothing more is looked at after the first no
    }

    void archive_refusesWhatCannotBeTrusted_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<Problem>("problem");
        QTest::addColumn<bool>("opens"); // the problem shows only when the entry is read
        QTest::newRow("intact") << Damage::None << Problem::None << true;
        QTest::newRow("name climbing out") << Damage::ClimbingName << Problem::ClimbingName << false;
        QTest::newRow("absolute name") << Damage::AbsoluteName << Problem::ClimbingName << false;
        QTest::newRow("link") << Damage::Link << Problem::Link << false;
        QTest::newRow("encrypted") << Damage::Encrypted << Problem::Encrypted << false;
        QTest::newRow("bomb: declares too much") << Damage::DeclaresTooMuch << Problem::TooLarge << false;
        QTest::newRow("bomb: expands beyond its declared size") << Damage::ExpandsBeyondDeclared << Problem::TooLarge
                                                                 << true;
        QTest::newRow("corrupt data") << Damage::CorruptData << Problem::Damaged << true;
        QTest::newRow("truncated") << Damage::Truncated << Problem::Damaged << false;
        QTest::newRow("not a zip") << Damage::NotAZip << Problem::Damaged << false;
        QTest::newRow("a named pipe") << Damage::NamedPipe << Problem::Damaged << false;
    }

    // A hostile or damaged archive is refused with its reason, never
    // extracted; an intact one's entry is extracted into the program's own
    // temporary folder, which goes when the upgrade's hold on it ends.
    void archive_refusesWhatCannotBeTrusted()
    {
        QFETCH(Damage, damage);
        QFETCH(Problem, problem);
        QFETCH(bool, opens);
        UpgradeRun::ProgramTempDir programTemp;
        QTemporaryDir dir;
        const QString path = dir.filePath("release.zip");
        QVERIFY(writeHostileZip(path, damage));

        const FirmwareChoice choice = FirmwareChooser::choose(path, "Merlow_R_Sky_1_0_5", AR_FPV_BOARD_TYPE_GT_SKY);
        QCOMPARE(choice.verdict, opens ? Verdict::Chosen : Verdict::Unusable);
        QCOMPARE(choice.archiveProblem, opens ? Problem::None : problem);
        if (!opens)
            QCOMPARE(FirmwareChoiceText::refusal(choice),
                     FirmwareChoiceText::archiveProblem("release.zip", problem, choice.problemEntry));
        else {
            const std::unique_ptr<StagedImage> staged(new StagedImage(choice.chosen.location));
            QCOMPARE(staged->problem(), problem);
            QCOMPARE(staged->isReady(), problem == Problem::None);
            if (staged->isReady()) {
                QCOMPARE(TestBytes::readFile(staged->path()), TestBytes::pattern(20000, 3));
                QVERIFY(staged->path().startsWith(TemporaryFolders(programTemp.dir.path()).path() + '/'));
            }
            QCOMPARE(programTemp.noPartsLeft(), !staged->isReady());
        }
        QVERIFY(programTemp.noPartsLeft());
    }

    // A disk that takes no more (here: a file size limit) is told as the
    // disk's failure, not the archive's, and leaves no part behind.
    void extraction_ontoAFullDisk_isToldAsSuch()
    {
        UpgradeRun::ProgramTempDir programTemp;
        QTemporaryDir dir;
        const QString path = dir.filePath("release.zip");
        QVERIFY(writeHostileZip(path, Damage::None));
        const FirmwareChoice choice = FirmwareChooser::choose(path, "Merlow_R_Sky_1_0_5", AR_FPV_BOARD_TYPE_GT_SKY);
        QCOMPARE(choice.verdict, Verdict::Chosen);

        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto ignored = signal(SIGXFSZ, SIG_IGN);
        rlimit small = before;
        small.rlim_cur = FullDiskBytes;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::unique_ptr<StagedImage> staged(new StagedImage(choice.chosen.location));
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);
        signal(SIGXFSZ, ignored);

        QVERIFY(!staged->isReady());
        QCOMPARE(staged->problem(), Problem::None);
        QVERIFY(!staged->writeError().isEmpty());
        QVERIFY(programTemp.noPartsLeft());
    }
};

QTEST_GUILESS_MAIN(TestFirmwareChoice)
#include "tst_firmwarechoice.moc"
