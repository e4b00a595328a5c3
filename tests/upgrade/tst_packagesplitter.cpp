#include "packagebuilder.h"
#include "packagesplitter.h"
#include "testbytes.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using SplitError = PackageSplitter::SplitError;
Q_DECLARE_METATYPE(SplitError)

// Found by QCOMPARE, so a failed comparison names the error codes.
char *toString(SplitError error)
{
    static const char *const names[] = {"None",    "CannotOpen",  "BadHeader",    "BadMagic",
                                        "BadCount", "Damaged", "CannotWrite", "NothingToSend"};
    return qstrdup(names[int(error)]);
}

namespace {

// Larger than the splitter's copy chunk and not a multiple of it.
constexpr int AppSize = 200 * 1024;
constexpr int SmallSize = 3000;

using TestBytes::pattern;

// One part of each listed type, of the given sizes, seeds 1, 2, ...
PackageBuilder packageOf(const QList<int> &types, const QList<int> &sizes)
{
    PackageBuilder builder;
    for (int i = 0; i < types.size(); ++i)
        builder.addPart(IMG_TYPE(types.at(i)), pattern(sizes.at(i), i + 1));
    return builder;
}

PackageBuilder appFpgaSensor()
{
    return packageOf({IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR},
                     {SmallSize, SmallSize, SmallSize});
}

// The builder's package with its header changed by `edit`.
QByteArray edited(const PackageBuilder &builder, const std::function<void(IMG_HEAD_INFO_EX &)> &edit)
{
    IMG_HEAD_INFO_EX header = builder.header();
    edit(header);
    return PackageBuilder::headerBytes(header) + builder.payload();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString outputPath(const QString &name)
{
    return QDir::current().filePath(name);
}

QStringList outputFiles()
{
    return QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestPackageSplitter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void split_partsEqualTheSubImages_data();
    void split_partsEqualTheSubImages();
    void split_appendsOnlyUpgradePartsAndCountsThem();
    void split_typeZeroAtFirstDescriptorIsSkipped();
    void split_zeroOffsetInTheMiddleFailsTheDescriptorBefore();
    void split_twoOtherPartsShareOneFileAndAreListedTwice();
    void rejectedPackage_leavesNoPartAndKeepsOutPaths_data();
    void rejectedPackage_leavesNoPartAndKeepsOutPaths();
    void unwritablePart_rejectsAndRemovesWrittenParts_data();
    void unwritablePart_rejectsAndRemovesWrittenParts();

    void imageType_fromFileName_data();
    void imageType_fromFileName();
    void partFileName_byType_data();
    void partFileName_byType();

    void builder_headerMatchesPackageByteLayout();
    void tool_packageSplitsBackIntoItsParts();

private:
    QString writePackage(const QByteArray &bytes);
    int split(const QByteArray &package, QStringList &outPaths,
              const QString &outputDir = QString(), SplitError *error = nullptr);
    QString toolPath() const;

    QString m_originalDir;
    QScopedPointer<QTemporaryDir> m_work;
    QScopedPointer<QTemporaryDir> m_input;
};

void TestPackageSplitter::initTestCase()
{
    m_originalDir = QDir::currentPath();
}

// Each test splits into a fresh, empty working directory; packages and
// source files live in a separate one.
void TestPackageSplitter::init()
{
    m_work.reset(new QTemporaryDir);
    m_input.reset(new QTemporaryDir);
    QVERIFY(m_work->isValid() && m_input->isValid());
    QVERIFY(QDir::setCurrent(m_work->path()));
}

void TestPackageSplitter::cleanup()
{
    QDir::setCurrent(m_originalDir);
    m_work.reset();
    m_input.reset();
}

QString TestPackageSplitter::writePackage(const QByteArray &bytes)
{
    const QString path = m_input->filePath(QStringLiteral("package.img"));
    return PackageBuilder::writeBytes(path, bytes) ? path : QString();
}

int TestPackageSplitter::split(const QByteArray &package, QStringList &outPaths,
                               const QString &outputDir, SplitError *error)
{
    return PackageSplitter::upgradeImag_parse_tarel_sky(writePackage(package), outPaths, outputDir,
                                                        error);
}

// Tests are built into <build>/tests, the tool into <build>.
QString TestPackageSplitter::toolPath() const
{
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
        .absoluteFilePath(QStringLiteral("tavio-make-package"));
}

void TestPackageSplitter::split_partsEqualTheSubImages_data()
{
    QTest::addColumn<bool>("intoFolder");
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<QStringList>("names");
    const QList<int> three{IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR};
    const QStringList threeNames{"app.bin", "fpga.bin", "sensor.bin"};
    QTest::newRow("working directory") << false << three << QList<int>{AppSize, SmallSize, 1}
                                       << threeNames;
    QTest::newRow("given folder") << true << three << QList<int>{AppSize, SmallSize, 1} << threeNames;
    QTest::newRow("five sub-images, the most there may be")
        << false << QList<int>{IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR, IMG_UNKNOWN, IMG_ROOTFS_16M}
        << QList<int>{SmallSize, SmallSize, SmallSize, SmallSize, 1}
        << QStringList{"app.bin", "fpga.bin", "sensor.bin", "other.bin", "part4_type4.bin"};
    // The one before it then ends exactly at the end of the package.
    QTest::newRow("empty last sub-image starting at the very end")
        << false << QList<int>{IMG_TAREL_APP, IMG_TAREL_FPGA} << QList<int>{SmallSize, 0}
        << QStringList{"app.bin", "fpga.bin"};
}

void TestPackageSplitter::split_partsEqualTheSubImages()
{
    QFETCH(bool, intoFolder);
    QFETCH(QList<int>, types);
    QFETCH(QList<int>, sizes);
    QFETCH(QStringList, names);
    const QString folder = intoFolder ? m_input->filePath(QStringLiteral("parts")) : QString();
    QVERIFY(!intoFolder || QDir().mkdir(folder));
    const PackageBuilder builder = packageOf(types, sizes);

    QStringList outPaths;
    auto error = SplitError::NothingToSend;
    QCOMPARE(split(builder.bytes(), outPaths, folder, &error), names.size());
    QCOMPARE(error, SplitError::None);
    QStringList expected;
    for (int i = 0; i < names.size(); ++i) {
        expected << (intoFolder ? QDir(folder).filePath(names.at(i)) : outputPath(names.at(i)));
        QCOMPARE(readFile(expected.last()), builder.parts().at(i).data);
    }
    QCOMPARE(outPaths, expected);
    names.sort();
    QCOMPARE(outputFiles(), intoFolder ? QStringList() : names);
}

void TestPackageSplitter::split_appendsOnlyUpgradePartsAndCountsThem()
{
    const QByteArray fpga = pattern(SmallSize, 2);
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
    builder.addPart(IMG_TAREL_FPGA, fpga, false);
    builder.addPart(IMG_TAREL_8333_SENSOR, pattern(SmallSize, 3));

    QStringList outPaths{QStringLiteral("earlier.bin")};
    QCOMPARE(split(builder.bytes(), outPaths), 2);
    QCOMPARE(outPaths, QStringList({"earlier.bin", outputPath("app.bin"), outputPath("sensor.bin")}));
    QCOMPARE(readFile(outputPath("fpga.bin")), fpga);
}

void TestPackageSplitter::split_typeZeroAtFirstDescriptorIsSkipped()
{
    const PackageBuilder builder = packageOf({IMG_BOOT, IMG_TAREL_APP}, {SmallSize, SmallSize});
    QStringList outPaths;
    QCOMPARE(split(builder.bytes(), outPaths), 1);
    QCOMPARE(outPaths, QStringList{outputPath("app.bin")});
    QCOMPARE(outputFiles(), QStringList{"app.bin"});
}

// Its length is taken from the next descriptor's offset.
void TestPackageSplitter::split_zeroOffsetInTheMiddleFailsTheDescriptorBefore()
{
    const PackageBuilder builder = appFpgaSensor();
    const QByteArray package
        = edited(builder, [](IMG_HEAD_INFO_EX &h) { h.subImgInfo[1].u32subimgoffset = 0; });

    QStringList outPaths;
    QCOMPARE(split(package, outPaths), 1);
    QCOMPARE(outPaths, QStringList{outputPath("sensor.bin")});
    QCOMPARE(outputFiles(), QStringList{"sensor.bin"});
    QCOMPARE(readFile(outputPath("sensor.bin")), builder.parts().at(2).data);
}

void TestPackageSplitter::split_twoOtherPartsShareOneFileAndAreListedTwice()
{
    const PackageBuilder builder = packageOf({IMG_TAREL_APP, IMG_UNKNOWN, IMG_UNKNOWN},
                                             {SmallSize, SmallSize, SmallSize});
    QStringList outPaths;
    QCOMPARE(split(builder.bytes(), outPaths), 3);
    QCOMPARE(outPaths, QStringList({outputPath("app.bin"), outputPath("other.bin"), outputPath("other.bin")}));
    QCOMPARE(readFile(outputPath("other.bin")), builder.parts().at(2).data);
}

void TestPackageSplitter::rejectedPackage_leavesNoPartAndKeepsOutPaths_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<SplitError>("error");

    const PackageBuilder single = packageOf({IMG_TAREL_APP}, {SmallSize});
    const auto withCount = [&](qint8 count) {
        return edited(single, [=](IMG_HEAD_INFO_EX &h) { h.subImgNum = count; });
    };
    const auto lastStartingAt = [&](qint64 offset) {
        return edited(single, [=](IMG_HEAD_INFO_EX &h) { h.subImgInfo[0].u32subimgoffset = quint32(offset); });
    };
    const PackageBuilder three = appFpgaSensor();
    const int fpgaEnd = int(three.header().subImgInfo[2].u32subimgoffset);
    PackageBuilder notForUpgrade;
    notForUpgrade.addPart(IMG_TAREL_APP, pattern(SmallSize, 1), false);
    notForUpgrade.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2), false);

    QTest::newRow("missing file") << false << QByteArray() << SplitError::CannotOpen;
    QTest::newRow("header one byte short")
        << true << single.bytes().left(int(sizeof(IMG_HEAD_INFO_EX)) - 1) << SplitError::BadHeader;
    QTest::newRow("wrong magic")
        << true << edited(single, [](IMG_HEAD_INFO_EX &h) { h.u32magic = IMG_PACKAGE_MAGIC + 1; })
        << SplitError::BadMagic;
    QTest::newRow("no sub-images") << true << withCount(0) << SplitError::BadCount;
    QTest::newRow("six sub-images") << true << withCount(IMG_MAX_SUB_IMAGES + 1) << SplitError::BadCount;
    QTest::newRow("count byte 0x80") << true << withCount(-128) << SplitError::BadCount;
    QTest::newRow("last sub-image starts one byte past the end")
        << true << lastStartingAt(single.bytes().size() + 1) << SplitError::Damaged;
    // The parts before a damaged sub-image are not left behind either.
    QTest::newRow("cut one byte inside the middle sub-image")
        << true << three.bytes().left(fpgaEnd - 1) << SplitError::Damaged;
    // Both parts are extracted, then removed: nobody will send them.
    QTest::newRow("no part for upgrade") << true << notForUpgrade.bytes() << SplitError::NothingToSend;
}

void TestPackageSplitter::rejectedPackage_leavesNoPartAndKeepsOutPaths()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, package);
    QFETCH(SplitError, error);
    const QString path = exists ? writePackage(package) : m_input->filePath(QStringLiteral("absent.img"));

    QStringList outPaths{QStringLiteral("earlier.bin")};
    auto got = SplitError::None;
    QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(path, outPaths, QString(), &got), 0);
    QCOMPARE(got, error);
    QCOMPARE(outPaths, QStringList{"earlier.bin"});
    QCOMPARE(outputFiles(), QStringList());
}

void TestPackageSplitter::unwritablePart_rejectsAndRemovesWrittenParts_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QStringList>("left");
    // The directory is not the splitter's to remove; a part cut short by a
    // full disk is.
    QTest::newRow("part name taken by a directory") << false << QStringList{"fpga.bin"};
    QTest::newRow("disk full") << true << QStringList();
}

// The application part before it is written and removed again, the sensor
// part after it never written.
void TestPackageSplitter::unwritablePart_rejectsAndRemovesWrittenParts()
{
    QFETCH(bool, diskFull);
    QFETCH(QStringList, left);
    const QString fullDevice = QStringLiteral("/dev/full");
    if (diskFull && !QFileInfo::exists(fullDevice))
        QSKIP("needs /dev/full");
    // Opening /dev/full for writing works; every write fails with ENOSPC.
    QVERIFY(diskFull ? QFile::link(fullDevice, outputPath("fpga.bin"))
                     : QDir::current().mkdir(QStringLiteral("fpga.bin")));

    QStringList outPaths{QStringLiteral("earlier.bin")};
    auto error = SplitError::None;
    QCOMPARE(split(appFpgaSensor().bytes(), outPaths, QString(), &error), 0);
    QCOMPARE(error, SplitError::CannotWrite);
    QCOMPARE(outPaths, QStringList{"earlier.bin"});
    QCOMPARE(outputFiles(), left);
}

void TestPackageSplitter::imageType_fromFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::newRow("uboot") << "u-boot_uboot.bin" << int(IMG_BOOT);
    QTest::newRow("bootloader") << "bootloader.img" << int(IMG_BOOT);
    QTest::newRow("kernel_bootloader: boot before kernel") << "kernel_bootloader.bin" << int(IMG_BOOT);
    QTest::newRow("env") << "env.bin" << int(IMG_ENV);
    QTest::newRow("rootfs_env: env before rootfs") << "rootfs_env.img" << int(IMG_ENV);
    QTest::newRow("uImage whole name") << "uImage" << int(IMG_KERNEL);
    QTest::newRow("uImage.bin is not the whole name") << "uImage.bin" << int(IMG_UNKNOWN);
    QTest::newRow("kernel") << "my_kernel.img" << int(IMG_KERNEL);
    QTest::newRow("factory") << "factory_data.bin" << int(IMG_FACTORY);
    QTest::newRow("rootfs whatever size") << "rootfs_64m.squashfs" << int(IMG_ROOTFS_16M);
    QTest::newRow("usrdata") << "usrdata_16m.img" << int(IMG_USRDATA_32M);
    QTest::newRow("userdata") << "userdata.img" << int(IMG_USRDATA_32M);
    QTest::newRow("APP.BIN upper case") << "APP.BIN" << int(IMG_TAREL_APP);
    QTest::newRow("tarel_app") << "tarel_app_v2.img" << int(IMG_TAREL_APP);
    QTest::newRow("app.bin only as whole name") << "myapp.bin" << int(IMG_UNKNOWN);
    QTest::newRow("fpga.bin") << "fpga.bin" << int(IMG_TAREL_FPGA);
    QTest::newRow("tarel_fpga") << "tarel_fpga.rbf" << int(IMG_TAREL_FPGA);
    QTest::newRow("sensor.bin") << "sensor.bin" << int(IMG_TAREL_8333_SENSOR);
    QTest::newRow("8333") << "fw8333.hex" << int(IMG_TAREL_8333_SENSOR);
    QTest::newRow("board.dtb") << "board.dtb" << int(IMG_KERNEL);
    QTest::newRow("indexed part name") << "part2_type4.bin" << int(IMG_UNKNOWN);
    QTest::newRow("directory ignored") << "/tmp/kernel_env/uboot_dir/fpga.bin" << int(IMG_TAREL_FPGA);
}

void TestPackageSplitter::imageType_fromFileName()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QCOMPARE(int(PackageSplitter::getImgTypeFromFileName(name)), type);
}

void TestPackageSplitter::partFileName_byType_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("name");
    QTest::newRow("application") << 3 << int(IMG_TAREL_APP) << "app.bin";
    QTest::newRow("fpga") << 0 << int(IMG_TAREL_FPGA) << "fpga.bin";
    QTest::newRow("sensor") << 4 << int(IMG_TAREL_8333_SENSOR) << "sensor.bin";
    QTest::newRow("unknown") << 1 << int(IMG_UNKNOWN) << "other.bin";
    QTest::newRow("boot") << 0 << int(IMG_BOOT) << "part0_type0.bin";
    QTest::newRow("beyond the table") << 1 << 10 << "part1_type10.bin";
    QTest::newRow("negative type") << 4 << -128 << "part4_type-128.bin";
}

void TestPackageSplitter::partFileName_byType()
{
    QFETCH(int, index);
    QFETCH(int, type);
    QFETCH(QString, name);
    QCOMPARE(PackageSplitter::partFileName(index, type), name);
}

void TestPackageSplitter::builder_headerMatchesPackageByteLayout()
{
    PackageBuilder builder;
    builder.setBoardType(0x11223344);
    builder.setVersions(1, 2, 3);
    builder.setBuildTime(0x0102030405060708ull);
    builder.addPart(IMG_TAREL_APP, pattern(10, 1));
    PackagePart fpga;
    fpga.type = IMG_TAREL_FPGA;
    fpga.upgrade = false;
    fpga.data = pattern(20, 2);
    fpga.flashOffset = 0x1000;
    QVERIFY(builder.addPart(fpga));

    const QByteArray bytes = builder.bytes();
    QCOMPARE(bytes.size(), 128 + 30);
    QCOMPARE(bytes.left(20).toHex(' '),
             QByteArray("41 53 57 00 44 33 22 11 01 00 00 00 02 00 00 00 03 00 00 00"));
    QCOMPARE(bytes.mid(20, 24).toHex(' '),
             QByteArray("06 01 00 00 00 00 00 00 80 00 00 00 07 00 00 00 00 10 00 00 8a 00 00 00"));
    QCOMPARE(bytes.mid(44, 36), QByteArray(36, '\0'));
    QCOMPARE(bytes.mid(80, 40), QByteArray(1, '\x02') + QByteArray(39, '\0'));
    QCOMPARE(bytes.mid(120, 8).toHex(' '), QByteArray("08 07 06 05 04 03 02 01"));
    QCOMPARE(bytes.mid(128), pattern(10, 1) + pattern(20, 2));

    for (int i = builder.parts().size(); i < IMG_MAX_SUB_IMAGES; ++i)
        QVERIFY(builder.addPart(IMG_UNKNOWN, QByteArray("x")));
    QVERIFY(!builder.addPart(IMG_UNKNOWN, QByteArray("sixth")));
}

void TestPackageSplitter::tool_packageSplitsBackIntoItsParts()
{
    QVERIFY2(QFileInfo::exists(toolPath()), qPrintable("not built: " + toolPath()));
    const QByteArray sensor = pattern(SmallSize, 1);
    const QByteArray app = pattern(AppSize, 2);
    const QByteArray other = pattern(SmallSize, 3);
    const QString sensorFile = m_input->filePath("s.fw");
    const QString appFile = m_input->filePath("a.fw");
    const QString otherFile = m_input->filePath("o.fw");
    QVERIFY(PackageBuilder::writeBytes(sensorFile, sensor));
    QVERIFY(PackageBuilder::writeBytes(appFile, app));
    QVERIFY(PackageBuilder::writeBytes(otherFile, other));
    const QString package = m_input->filePath("made.img");

    QProcess tool;
    tool.start(toolPath(), {package, "--board", "7", "--sensor", sensorFile, "--app", appFile,
                            "--other", otherFile, "--no-upgrade", "other"});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QCOMPARE(readFile(package).mid(4, 4).toHex(' '), QByteArray("07 00 00 00"));

    QStringList outPaths;
    QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(package, outPaths), 2);
    QCOMPARE(outPaths, QStringList({outputPath("sensor.bin"), outputPath("app.bin")}));
    QCOMPARE(readFile(outputPath("sensor.bin")), sensor);
    QCOMPARE(readFile(outputPath("app.bin")), app);
    QCOMPARE(readFile(outputPath("other.bin")), other);
}

QTEST_GUILESS_MAIN(TestPackageSplitter)
#include "tst_packagesplitter.moc"
