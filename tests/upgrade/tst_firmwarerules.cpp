#include "firmwarerules.h"
#include "testbytes.h"

#include <QtTest>

#include <cstring>
#include <memory>
#include <sys/stat.h>

using FileVerdict = FirmwareRules::FileVerdict;
Q_DECLARE_METATYPE(FileVerdict)

namespace {

// The device's firmware field: exactly FirmwareCapacity bytes on the heap, NUL-padded when the text is shorter and
// unterminated when it fills the field, so the sanitizer sees any read past its end.
std::unique_ptr<char[]> firmwareField(const QByteArray &text)
{
    std::unique_ptr<char[]> bytes(new char[FirmwareRules::FirmwareCapacity]());
    std::memcpy(bytes.get(), text.constData(), size_t(text.size()));
    return bytes;
}

// A firmware text that fills the whole field and ends in `tail`.
QByteArray fullField(const QByteArray &tail)
{
    return QByteArray(FirmwareRules::FirmwareCapacity - tail.size(), 'x') + tail;
}

// "Unit_R_Sky" followed by 27 version numbers fills the field exactly; the last number sits in its last byte.
QByteArray fullFieldVersion(char lastNumber)
{
    const int versionCount = 27;
    return QByteArray("Unit_R_Sky") + QByteArray("_1").repeated(versionCount - 1) + '_' + lastNumber;
}

} // namespace

class TestFirmwareRules : public QObject
{
    Q_OBJECT

private slots:
    void isPackageNameValid_matchesWholeFileName_data()
    {
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<bool>("valid");
        QTest::newRow("prefix and three numbers") << "Unit_R_Sky_1_0_5.img" << true;
        QTest::newRow("upper-case extension") << "Unit_R_Sky_1_0_5.IMG" << false;
        QTest::newRow("dotted version") << "Unit_R_Sky_1.0.5.img" << false;
        QTest::newRow("no underscore group") << "UnitRSky1.img" << false;
        QTest::newRow("letter in last number") << "Unit_R_Sky_1_0_5a.img" << false;
        QTest::newRow("one character before the group") << "a_1.img" << true;
        QTest::newRow("nothing before the group") << "_1.img" << false;
        QTest::newRow("trailing line feed") << "Unit_R_Sky_1.img\n" << false;
        QTest::newRow("directories are ignored") << "/home/u/my-fw.v2/Unit_R_Sky_1_0_5.img" << true;
    }

    void isPackageNameValid_matchesWholeFileName()
    {
        QFETCH(QString, filePath);
        QFETCH(bool, valid);
        QCOMPARE(FirmwareRules::isPackageNameValid(filePath), valid);
    }

    void checkPrefixAndVersion_decides_data()
    {
        QTest::addColumn<QByteArray>("current");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("result");

        const int ok = FirmwareRules::CheckOk;
        const int format = FirmwareRules::CheckFormatError;
        const int version = FirmwareRules::CheckVersionError;
        const auto row = [](const char *name, const char *current, const QString &target, int result) {
            QTest::newRow(name) << QByteArray(current) << target << result;
        };

        // Versions: numeric, position by position, most significant first.
        row("same version reinstalled", "Unit_R_Sky_1_0_5", "Unit_R_Sky_1_0_5.img", ok);
        row("first number higher", "Unit_R_Sky_1_9_9", "Unit_R_Sky_2_0_0.img", ok);
        row("first number lower", "Unit_R_Sky_2_0_0", "Unit_R_Sky_1_9_9.img", version);
        row("third number higher, more digits", "Unit_R_Sky_1_2_9", "Unit_R_Sky_1_2_10.img", ok);
        row("missing target number counts as 0", "Unit_R_Sky_1_2_1", "Unit_R_Sky_1_2.img", version);
        row("missing current number counts as 0", "Unit_R_Sky_1_2", "Unit_R_Sky_1_2_1.img", ok);
        row("largest 32-bit number is numeric", "Unit_R_Sky_4294967295", "Unit_R_Sky_4294967294.img",
            version);
        row("above 32 bits is not numeric", "Unit_R_Sky_1", "Unit_R_Sky_4294967296.img", format);
        row("plus sign is not numeric", "Unit_R_Sky_5", "Unit_R_Sky_+6.img", format);

        // Prefixes: part by part, case-sensitive, empty parts dropped.
        row("prefix compared case-sensitively", "Unit_R_Sky_1_2_0", "unit_R_Sky_1_2_3.img", format);
        row("prefix lengths differ", "Unit_R_Sky_1_2_0", "Unit_Sky_1_2_3.img", format);
        row("numeric part inside prefix must match", "Unit_2_Sky_1_0", "Unit_3_Sky_1_1.img", format);
        row("doubled underscores dropped", "Unit_R_Sky_1", "Unit__R_Sky_1.img", ok);
        row("numbers-only current", "1_0_5", "Unit_R_Sky_1_0_5.img", format);
        row("extension starts at the first dot", "Unit_R_Sky_1_0", "Unit_R_Sky_1.5_0.img", ok);
        QTest::newRow("UTF-8 current compared as text")
            << QByteArray("Unité_R_Sky_1") << QString::fromUtf8("Unité_R_Sky_2.img") << ok;
        QTest::newRow("field without NUL read to its last byte")
            << fullFieldVersion('1') << QString::fromLatin1(fullFieldVersion('0') + ".img") << version;
    }

    void checkPrefixAndVersion_decides()
    {
        QFETCH(QByteArray, current);
        QFETCH(QString, target);
        QFETCH(int, result);
        QCOMPARE(FirmwareRules::checkPrefixAndVersion(firmwareField(current).get(), target), result);
    }

    // The unit kind from its tag in any case, ground first; the multi-image line needs its board and its marker in
    // the exact case; the device's name is the first three fields, empty ones counted.
    void firmwareField_tellsUnitKindLineAndName_data()
    {
        QTest::addColumn<int>("boardType");
        QTest::addColumn<QByteArray>("firmware");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("multiImage");
        QTest::addColumn<QString>("name"); // null: not asked
        const auto row = [](const char *tag, int board, const QByteArray &firmware, int kind, bool multiImage,
                            const char *name) {
            QTest::newRow(tag) << board << firmware << kind << multiImage << QString::fromUtf8(name);
        };
        const int ex6 = AR_FPV_BOARD_TYPE_SKY_EX6, sky = FirmwareRules::UnitSky, ground = FirmwareRules::UnitGround;
        const int other = FirmwareRules::UnitOther;
        const QByteArray line("Merlow_R_Sky_1_0_5");
        row("ground in lower case", ex6, "xx_gnd_yy", ground, false, "xx gnd yy");
        row("sky, version field dropped", ex6, "Unit_R_Sky_1", sky, false, "Unit R Sky");
        row("ground wins over sky", ex6, "Unit_Sky_GND_1", ground, false, "Unit Sky GND");
        row("neither", ex6, "Unit_R_Air_1", other, false, "Unit R Air");
        row("empty", ex6, QByteArray(), FirmwareRules::UnitNone, false, "");
        row("tag in the last bytes of a full field", ex6, fullField("GND"), ground, false, nullptr);
        row("marked sky unit of the multi-image board", ex6, line, sky, true, "Merlow R Sky");
        row("other board", AR_FPV_BOARD_TYPE_SKY_EX4, line, sky, false, "Merlow R Sky");
        row("marker in other case", ex6, "merlow_r_sky_1_0_5", sky, false, "merlow r sky");
        row("marker without its underscore", ex6, "Merlow_R_Sky", sky, false, "Merlow R Sky");
        row("marker in the last bytes of a full field", ex6, fullField("Merlow_R_Sky_"), sky, true, nullptr);
        row("two fields", ex6, "Unit_R", other, false, "Unit R");
        row("no underscore", ex6, "UnitRSky", sky, false, "UnitRSky");
        row("empty field counts", ex6, "Unit__R_Sky", sky, false, "Unit  R");
    }

    void firmwareField_tellsUnitKindLineAndName()
    {
        QFETCH(int, boardType);
        QFETCH(QByteArray, firmware);
        QFETCH(int, kind);
        QFETCH(bool, multiImage);
        QFETCH(QString, name);
        QCOMPARE(FirmwareRules::checkFirmware(firmwareField(firmware).get()), kind);
        QCOMPARE(FirmwareRules::isMultiImageLine(boardType, firmwareField(firmware).get()), multiImage);
        if (!name.isNull())
            QCOMPARE(FirmwareRules::getDeviceName(QString::fromUtf8(firmware)), name);
    }

    void judgeFile_refusesWhatCannotBeAnImage_data()
    {
        QTest::addColumn<QString>("kind"); // what stands under the image's name
        QTest::addColumn<QString>("name");
        QTest::addColumn<FileVerdict>("verdict");
        const QString image = QStringLiteral("Unit_R_Sky_1_0_6.img");
        QTest::newRow("image") << "image" << image << FileVerdict::Accepted;
        QTest::newRow("link to an image") << "link to image" << image << FileVerdict::Accepted;
        QTest::newRow("no such file: left to whoever opens it") << "nothing" << image << FileVerdict::Accepted;
        QTest::newRow("empty file") << "empty" << image << FileVerdict::EmptyFile;
        QTest::newRow("named pipe, never opened") << "pipe" << image << FileVerdict::NotAFile;
        QTest::newRow("link to /dev/zero") << "link to /dev/zero" << image << FileVerdict::NotAFile;
        QTest::newRow("directory") << "directory" << image << FileVerdict::NotAFile;
        QTest::newRow("the name rule first") << "empty" << QStringLiteral("Unit_R_Sky.img") << FileVerdict::BadName;
        QTest::newRow("the version rule last") << "image" << QStringLiteral("Unit_R_Sky_1_0_4.img")
                                               << FileVerdict::VersionTooLow;
    }

    // A named pipe would block an open for ever and /dev/zero never ends: the
    // file's type is judged from its entry alone.
    void judgeFile_refusesWhatCannotBeAnImage()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(FileVerdict, verdict);
        QTemporaryDir dir;
        const QString path = dir.filePath(name), target = dir.filePath(QStringLiteral("target"));
        QVERIFY(TestBytes::writeFile(target, "image bytes"));
        if (kind == QLatin1String("image") || kind == QLatin1String("empty"))
            QVERIFY(TestBytes::writeFile(path, kind == QLatin1String("image") ? "x" : ""));
        else if (kind == QLatin1String("link to image"))
            QVERIFY(QFile::link(target, path));
        else if (kind == QLatin1String("pipe"))
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("link to /dev/zero"))
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
        else if (kind == QLatin1String("directory"))
            QVERIFY(QDir(dir.path()).mkdir(name));

        const FirmwareRules::FileJudgement judgement
            = FirmwareRules::judgeFile(firmwareField("Unit_R_Sky_1_0_5").get(), path);
        QCOMPARE(judgement.verdict, verdict);
        QCOMPARE(FirmwareRules::refusalText(verdict) == nullptr, verdict == FileVerdict::Accepted);
    }
};

QTEST_GUILESS_MAIN(TestFirmwareRules)
#include "tst_firmwarerules.moc"
