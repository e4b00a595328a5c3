#include "packagebuilder.h"
#include "packagesplitter.h"

#include "packagesplitter_fixtures.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

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
    void split_otherTypesUseIndexedNames();
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
    void tool_refusesBadArgumentsAndWritesNothing_data();
    void tool_refusesBadArgumentsAndWritesNothing();

private:
    QString writePackage(const QByteArray &bytes);
    int split(const QByteArray &package, QStringList &outPaths,
        const QString &outputDir = QString(), PackageSplitter::SplitError *error = nullptr);
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
    startLogCapture();
}

void TestPackageSplitter::cleanup()
{
    stopLogCapture();
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
    const QString &outputDir, PackageSplitter::SplitError *error)
{
    return PackageSplitter::upgradeImag_parse_tarel_sky(
        writePackage(package), outPaths, outputDir, error);
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
    QTest::newRow("current directory") << false;
    QTest::newRow("given folder") << true;
}

void TestPackageSplitter::split_partsEqualTheSubImages()
{
    QFETCH(bool, intoFolder);
    const QString folder = intoFolder ? m_input->filePath(QStringLiteral("parts")) : QString();
    QVERIFY(!intoFolder || QDir().mkdir(folder));
    const auto partPath = [&](const QString &name) {
        return intoFolder ? QDir(folder).filePath(name) : outputPath(name);
    };
    const QByteArray app = pattern(AppSize, 1);
    const QByteArray fpga = pattern(SmallSize, 2);
    const QByteArray sensor = pattern(1, 3);
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, app);
    builder.addPart(IMG_TAREL_FPGA, fpga);
    builder.addPart(IMG_TAREL_8333_SENSOR, sensor);

    QStringList outPaths;
    auto error = PackageSplitter::SplitError::NothingToSend;
    QCOMPARE(split(builder.bytes(), outPaths, folder, &error), 3);
    QCOMPARE(error, PackageSplitter::SplitError::None);
    QCOMPARE(outPaths,
        QStringList({partPath("app.bin"), partPath("fpga.bin"), partPath("sensor.bin")}));
    QCOMPARE(readFile(partPath("app.bin")), app);
    QCOMPARE(readFile(partPath("fpga.bin")), fpga);
    QCOMPARE(readFile(partPath("sensor.bin")), sensor);
    QCOMPARE(outputFiles(),
        intoFolder ? QStringList() : QStringList({"app.bin", "fpga.bin", "sensor.bin"}));

    QCOMPARE(capturedLines().first().type, QtInfoMsg);
    QVERIFY(QRegularExpression(SplitterPrefix + "upgradeImag_parse_tarel_sky$")
                .match(capturedLines().first().text)
                .hasMatch());
    QVERIFY_LOGGED(QtInfoMsg,
        QStringLiteral("Extracted: \"%1\" Size: %2 bytes").arg(partPath("app.bin")).arg(AppSize));
    QVERIFY_LOGGED(
        QtInfoMsg, QStringLiteral("Extracted: \"%1\" Size: 1 bytes").arg(partPath("sensor.bin")));
    for (const LogLine &line : capturedLines())
        QVERIFY2(line.type == QtInfoMsg, qPrintable(line.text));
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
    QCOMPARE(
        outPaths, QStringList({"earlier.bin", outputPath("app.bin"), outputPath("sensor.bin")}));
    QCOMPARE(readFile(outputPath("fpga.bin")), fpga);
    QVERIFY_LOGGED(QtInfoMsg, QStringLiteral("#subImgInfo 0 is upgrade 1"));
    QVERIFY_LOGGED(QtInfoMsg, QStringLiteral("#subImgInfo 1 is upgrade 0"));
}

void TestPackageSplitter::split_typeZeroAtFirstDescriptorIsSkipped()
{
    PackageBuilder builder;
    builder.addPart(IMG_BOOT, pattern(SmallSize, 1));
    builder.addPart(IMG_TAREL_APP, pattern(SmallSize, 2));

    QStringList outPaths;
    QCOMPARE(split(builder.bytes(), outPaths), 1);
    QCOMPARE(outPaths, QStringList{outputPath("app.bin")});
    QCOMPARE(outputFiles(), QStringList{"app.bin"});
    QVERIFY_LOGGED(QtInfoMsg, QStringLiteral("Skipping invalid subimage at index 0"));
}

void TestPackageSplitter::split_zeroOffsetInTheMiddleFailsTheDescriptorBefore()
{
    const PackageBuilder builder = appFpgaSensor();
    const QByteArray sensor = builder.parts().at(2).data;
    const QByteArray package
        = edited(builder, [](IMG_HEAD_INFO_EX &h) { h.subImgInfo[1].u32subimgoffset = 0; });

    QStringList outPaths;
    QCOMPARE(split(package, outPaths), 1);
    QCOMPARE(outPaths, QStringList{outputPath("sensor.bin")});
    QCOMPARE(outputFiles(), QStringList{"sensor.bin"});
    QCOMPARE(readFile(outputPath("sensor.bin")), sensor);
    QVERIFY_LOGGED(QtWarningMsg, QStringLiteral("Invalid next offset for subimage 0"));
    QVERIFY_LOGGED(QtInfoMsg, QStringLiteral("Skipping invalid subimage at index 1"));
}

void TestPackageSplitter::split_twoOtherPartsShareOneFileAndAreListedTwice()
{
    const QByteArray second = pattern(SmallSize, 4);
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
    builder.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2));
    builder.addPart(IMG_UNKNOWN, pattern(SmallSize, 3));
    builder.addPart(IMG_UNKNOWN, second);

    QStringList outPaths;
    QCOMPARE(split(builder.bytes(), outPaths), 4);
    QCOMPARE(outPaths,
        QStringList({outputPath("app.bin"), outputPath("fpga.bin"), outputPath("other.bin"),
            outputPath("other.bin")}));
    QCOMPARE(readFile(outputPath("other.bin")), second);
}

void TestPackageSplitter::split_otherTypesUseIndexedNames()
{
    const QByteArray negative = pattern(SmallSize, 3);
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
    builder.addPart(IMG_ROOTFS_16M, pattern(SmallSize, 2));
    builder.addPart(IMG_UNKNOWN, negative);
    const QByteArray package
        = edited(builder, [](IMG_HEAD_INFO_EX &h) { h.subImgInfo[2].s8imgType = -3; });

    QStringList outPaths;
    QCOMPARE(split(package, outPaths), 3);
    QCOMPARE(outPaths,
        QStringList({outputPath("app.bin"), outputPath("part1_type4.bin"),
            outputPath("part2_type-3.bin")}));
    QCOMPARE(readFile(outputPath("part2_type-3.bin")), negative);
}

// The rows are made before the test enters its working directory; "<dir>" in
// a message stands for it.
static QString inWorkDir(QString message)
{
    return message.replace(QLatin1String("<dir>"), QDir::currentPath());
}

void TestPackageSplitter::rejectedPackage_leavesNoPartAndKeepsOutPaths_data()
{
    using E = PackageSplitter::SplitError;
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<PackageSplitter::SplitError>("error");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("withPrefix");

    PackageBuilder single;
    single.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
    const auto withCount = [&](qint8 count) {
        return edited(single, [=](IMG_HEAD_INFO_EX &h) { h.subImgNum = count; });
    };
    const QString badCount = QStringLiteral("Invalid number of sub-images: %1");
    const PackageBuilder three = appFpgaSensor();
    const QByteArray whole = three.bytes();
    const int fpgaOffset = int(three.header().subImgInfo[1].u32subimgoffset);
    const int beyond = 100;
    const int present = 5;
    PackageBuilder notForUpgrade;
    notForUpgrade.addPart(IMG_TAREL_APP, pattern(SmallSize, 1), false);
    notForUpgrade.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2), false);

    QTest::newRow("missing file") << false << QByteArray() << E::CannotOpen
                                  << "Failed to open input image: \"No such file or directory\""
                                  << true;
    QTest::newRow("empty file") << true << QByteArray() << E::BadHeader << "Invalid image header"
                                << false;
    QTest::newRow("header one byte short")
        << true << single.bytes().left(int(sizeof(IMG_HEAD_INFO_EX)) - 1) << E::BadHeader
        << "Invalid image header" << false;
    QTest::newRow("wrong magic") << true << edited(single, [](IMG_HEAD_INFO_EX &h) {
        h.u32magic = IMG_PACKAGE_MAGIC + 1;
    }) << E::BadMagic << "Invalid magic number" << true;
    QTest::newRow("no sub-images")
        << true << withCount(0) << E::BadCount << badCount.arg(0) << true;
    QTest::newRow("six sub-images")
        << true << withCount(IMG_MAX_SUB_IMAGES + 1) << E::BadCount << badCount.arg(6) << true;
    QTest::newRow("count byte 0x80")
        << true << withCount(-128) << E::BadCount << badCount.arg(4294967168u) << true;
    QTest::newRow("count byte 0xff")
        << true << withCount(-1) << E::BadCount << badCount.arg(4294967295u) << true;
    // The parts before a damaged sub-image are not left behind either.
    QTest::newRow("last sub-image starts past the end")
        << true << edited(single, [&](IMG_HEAD_INFO_EX &h) {
               h.subImgInfo[0].u32subimgoffset = quint32(single.bytes().size() + beyond);
           }) << E::Damaged << IncompleteRead.arg("<dir>/app.bin").arg(-beyond).arg(0) << true;
    QTest::newRow("middle sub-image runs past the end")
        << true << edited(three, [&](IMG_HEAD_INFO_EX &h) {
               h.subImgInfo[2].u32subimgoffset = quint32(whole.size() + beyond);
           }) << E::Damaged
        << IncompleteRead.arg("<dir>/fpga.bin").arg(2 * SmallSize + beyond).arg(2 * SmallSize)
        << true;
    QTest::newRow("cut inside the middle sub-image")
        << true << whole.left(fpgaOffset + present) << E::Damaged
        << IncompleteRead.arg("<dir>/fpga.bin").arg(SmallSize).arg(present) << true;
    // Both parts are extracted, then removed: nobody will send them.
    QTest::newRow("no part for upgrade") << true << notForUpgrade.bytes() << E::NothingToSend
                                         << "#subImgInfo 1 is upgrade 0" << true;
}

void TestPackageSplitter::rejectedPackage_leavesNoPartAndKeepsOutPaths()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, package);
    QFETCH(PackageSplitter::SplitError, error);
    QFETCH(QString, message);
    QFETCH(bool, withPrefix);
    const QString path
        = exists ? writePackage(package) : m_input->filePath(QStringLiteral("absent.img"));

    QStringList outPaths{QStringLiteral("earlier.bin")};
    auto got = PackageSplitter::SplitError::None;
    QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(path, outPaths, QString(), &got), 0);
    QCOMPARE(got, error);
    QCOMPARE(outPaths, QStringList{"earlier.bin"});
    QCOMPARE(outputFiles(), QStringList());
    // A valid package that lists nothing is no warning.
    const QtMsgType level = error == PackageSplitter::SplitError::NothingToSend ? QtInfoMsg
                                                                               : QtWarningMsg;
    QVERIFY_LOGGED(level, inWorkDir(message), withPrefix);
}

void TestPackageSplitter::unwritablePart_rejectsAndRemovesWrittenParts_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("left");

    // The directory is not the splitter's to remove; a part cut short by a
    // full disk is.
    QTest::newRow("part name taken by a directory")
        << false << "Failed to create output file: \"<dir>/fpga.bin\"" << QStringList{"fpga.bin"};
    QTest::newRow("disk full") << true << "Write failed for \"<dir>/fpga.bin\"" << QStringList();
}

// The application part before it is written and removed again, the sensor
// part after it never written.
void TestPackageSplitter::unwritablePart_rejectsAndRemovesWrittenParts()
{
    QFETCH(bool, diskFull);
    QFETCH(QString, message);
    QFETCH(QStringList, left);
    const QString fullDevice = QStringLiteral("/dev/full");
    if (diskFull && !QFileInfo::exists(fullDevice))
        QSKIP("needs /dev/full");
    // Opening /dev/full for writing works; every write fails with ENOSPC.
    QVERIFY(diskFull ? QFile::link(fullDevice, outputPath("fpga.bin"))
                     : QDir::current().mkdir(QStringLiteral("fpga.bin")));

    QStringList outPaths{QStringLiteral("earlier.bin")};
    auto error = PackageSplitter::SplitError::None;
    QCOMPARE(split(appFpgaSensor().bytes(), outPaths, QString(), &error), 0);
    QCOMPARE(error, PackageSplitter::SplitError::CannotWrite);
    QCOMPARE(outPaths, QStringList{"earlier.bin"});
    QCOMPARE(outputFiles(), left);
    QVERIFY_LOGGED(QtInfoMsg,
        inWorkDir(QStringLiteral("Extracted: \"<dir>/app.bin\" Size: %1 bytes").arg(SmallSize)));
    QVERIFY_LOGGED(QtWarningMsg, inWorkDir(message));
}

void TestPackageSplitter::imageType_fromFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");

    QTest::newRow("uboot") << "u-boot_uboot.bin" << int(IMG_BOOT);
    QTest::newRow("bootloader") << "bootloader.img" << int(IMG_BOOT);
    QTest::newRow("kernel_bootloader: boot before kernel")
        << "kernel_bootloader.bin" << int(IMG_BOOT);
    QTest::newRow("env") << "env.bin" << int(IMG_ENV);
    QTest::newRow("rootfs_env: env before rootfs") << "rootfs_env.img" << int(IMG_ENV);
    QTest::newRow("uImage whole name") << "uImage" << int(IMG_KERNEL);
    QTest::newRow("uImage.bin is not the whole name") << "uImage.bin" << int(IMG_UNKNOWN);
    QTest::newRow("kernel") << "my_kernel.img" << int(IMG_KERNEL);
    QTest::newRow("factory") << "factory_data.bin" << int(IMG_FACTORY);
    QTest::newRow("rootfs whatever size") << "rootfs_64m.squashfs" << int(IMG_ROOTFS_16M);
    QTest::newRow("usrdata") << "usrdata_16m.img" << int(IMG_USRDATA_32M);
    QTest::newRow("userdata") << "userdata.img" << int(IMG_USRDATA_32M);
    QTest::newRow("app.bin") << "app.bin" << int(IMG_TAREL_APP);
    QTest::newRow("APP.BIN upper case") << "APP.BIN" << int(IMG_TAREL_APP);
    QTest::newRow("tarel_app") << "tarel_app_v2.img" << int(IMG_TAREL_APP);
    QTest::newRow("app.bin only as whole name") << "myapp.bin" << int(IMG_UNKNOWN);
    QTest::newRow("fpga.bin") << "fpga.bin" << int(IMG_TAREL_FPGA);
    QTest::newRow("tarel_fpga") << "tarel_fpga.rbf" << int(IMG_TAREL_FPGA);
    QTest::newRow("sensor.bin") << "sensor.bin" << int(IMG_TAREL_8333_SENSOR);
    QTest::newRow("8333") << "fw8333.hex" << int(IMG_TAREL_8333_SENSOR);
    QTest::newRow("board.dtb") << "board.dtb" << int(IMG_KERNEL);
    QTest::newRow("other.bin") << "other.bin" << int(IMG_UNKNOWN);
    QTest::newRow("indexed part name") << "part2_type4.bin" << int(IMG_UNKNOWN);
    QTest::newRow("directory ignored")
        << "/tmp/kernel_env/uboot_dir/fpga.bin" << int(IMG_TAREL_FPGA);
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
    QTest::newRow("rootfs") << 2 << int(IMG_ROOTFS_16M) << "part2_type4.bin";
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
    tool.start(toolPath(),
        {package, "--board", "7", "--sensor", sensorFile, "--app", appFile, "--other", otherFile,
            "--no-upgrade", "other"});
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
    QVERIFY(tool.readAllStandardOutput().startsWith("Wrote " + package.toUtf8()));
    QCOMPARE(readFile(package).mid(4, 4).toHex(' '), QByteArray("07 00 00 00"));

    QStringList outPaths;
    QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(package, outPaths), 2);
    QCOMPARE(outPaths, QStringList({outputPath("sensor.bin"), outputPath("app.bin")}));
    QCOMPARE(readFile(outputPath("sensor.bin")), sensor);
    QCOMPARE(readFile(outputPath("app.bin")), app);
    QCOMPARE(readFile(outputPath("other.bin")), other);
}

void TestPackageSplitter::tool_refusesBadArgumentsAndWritesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");

    QTest::newRow("no parts") << QStringList() << "no parts given";
    QTest::newRow("unreadable part") << QStringList{"--app", "/nonexistent/a.fw"} << "cannot read";
    QTest::newRow("unknown type") << QStringList{"--no-upgrade", "kernel"} << "unknown part type";
    QTest::newRow("bad board") << QStringList{"--board", "seven"} << "invalid board type";
    QStringList six;
    for (int i = 0; i <= IMG_MAX_SUB_IMAGES; ++i)
        six << "--other" << QCoreApplication::applicationFilePath();
    QTest::newRow("six parts") << six << "no room in the package";
}

void TestPackageSplitter::tool_refusesBadArgumentsAndWritesNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QVERIFY2(QFileInfo::exists(toolPath()), qPrintable("not built: " + toolPath()));
    const QString package = m_input->filePath("made.img");

    QProcess tool;
    tool.start(toolPath(), QStringList{package} + arguments);
    QVERIFY(tool.waitForFinished());
    QCOMPARE(tool.exitCode(), 1);
    QVERIFY(QString::fromUtf8(tool.readAllStandardError()).contains(error));
    QVERIFY(!QFileInfo::exists(package));
}

QTEST_GUILESS_MAIN(TestPackageSplitter)
#include "tst_packagesplitter.moc"
