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
    static const char *const names[] = {"None",    "CannotOpen",  "BadHeader",     "BadMagic",     "BadCount",
                                        "Damaged", "CannotWrite", "NothingToSend", "InsideHeader", "Overlapping"};
    return qstrdup(names[int(error)]);
}

namespace {

// Larger than the splitter's copy chunk and not a multiple of it.
constexpr int AppSize = 200 * 1024;
constexpr int SmallSize = 3000;

using TestBytes::pattern;
using TestBytes::readFile;

// One part of each listed type, of the given sizes, seeds 1, 2, ...
PackageBuilder packageOf(const QList<int> &types, const QList<int> &sizes)
{
    PackageBuilder builder;
    for (int i = 0; i < types.size(); ++i)
        builder.addPart(IMG_TYPE(types.at(i)), pattern(sizes.at(i), i + 1));
    return builder;
}

// The builder's package with its header changed by `edit`.
QByteArray edited(const PackageBuilder &builder, const std::function<void(IMG_HEAD_INFO_EX &)> &edit)
{
    IMG_HEAD_INFO_EX header = builder.header();
    edit(header);
    return PackageBuilder::headerBytes(header) + builder.payload();
}

QString outputPath(const QString &name)
{
    return QDir::current().filePath(name);
}

// Tests are built into <build>/tests, the tool into <build>.
QString toolPath()
{
    return QDir(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
        .absoluteFilePath(QStringLiteral("tavio-make-package"));
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
    void initTestCase() { m_originalDir = QDir::currentPath(); }
    // Each test splits into a fresh, empty working directory; packages and source files live in a separate one.
    void init()
    {
        m_work.reset(new QTemporaryDir);
        m_input.reset(new QTemporaryDir);
        QVERIFY(m_work->isValid() && m_input->isValid() && QDir::setCurrent(m_work->path()));
    }
    void cleanup()
    {
        QDir::setCurrent(m_originalDir);
        m_work.reset();
        m_input.reset();
    }

    // A package is split whole or not at all: a rejected one leaves no part
    // behind (not even those before the damage) and adds nothing to the list.
    void split_writesEverySubImageAndListsTheUpgradeParts_data()
    {
        QTest::addColumn<QByteArray>("package"); // null: no file at all
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QVariantMap>("files"); // left in the working directory, name to bytes
        QTest::addColumn<SplitError>("error");
        QTest::addColumn<QString>("blocker"); // what takes the FPGA part's name before the split: "", "dir", "full"
        // The part files of `builder` under these names; a later part of the same name overwrites.
        const auto filesOf = [](const PackageBuilder &builder, const QStringList &names) {
            QVariantMap files;
            for (int i = 0; i < names.size(); ++i)
                files.insert(names.at(i), builder.parts().at(i).data);
            return files;
        };
        const auto row = [](const char *name, const QByteArray &package, const QStringList &listed,
                            const QVariantMap &files, SplitError error = SplitError::None,
                            const QString &blocker = QString()) {
            QTest::newRow(name) << package << listed << files << error << blocker;
        };
        const auto rejected = [&](const char *name, const QByteArray &package, SplitError error) {
            row(name, package, {}, {}, error);
        };

        const PackageBuilder three = packageOf({IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR},
                                               {AppSize, SmallSize, 1});
        const QStringList threeNames{"app.bin", "fpga.bin", "sensor.bin"};
        row("three parts, one larger than the copy chunk", three.bytes(), threeNames, filesOf(three, threeNames));
        const PackageBuilder five = packageOf({IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR, IMG_UNKNOWN,
                                               IMG_ROOTFS_16M}, {SmallSize, SmallSize, SmallSize, SmallSize, 1});
        const QStringList fiveNames{"app.bin", "fpga.bin", "sensor.bin", "other.bin", "part4_type4.bin"};
        row("five sub-images, the most there may be", five.bytes(), fiveNames, filesOf(five, fiveNames));
        PackageBuilder notAll;
        notAll.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
        notAll.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2), false);
        notAll.addPart(IMG_TAREL_8333_SENSOR, pattern(SmallSize, 3));
        row("a part not for upgrade is written, not listed", notAll.bytes(), {"app.bin", "sensor.bin"},
            filesOf(notAll, threeNames));
        const PackageBuilder bootFirst = packageOf({IMG_BOOT, IMG_TAREL_APP}, {SmallSize, SmallSize});
        row("type 0 at the first descriptor is skipped", bootFirst.bytes(), {"app.bin"},
            {{"app.bin", bootFirst.parts().at(1).data}});
        const PackageBuilder small = packageOf({IMG_TAREL_APP, IMG_TAREL_FPGA, IMG_TAREL_8333_SENSOR},
                                               {SmallSize, SmallSize, SmallSize});
        row("unused entry before the first used one",
            edited(small, [](IMG_HEAD_INFO_EX &h) { h.subImgInfo[0].u32subimgoffset = 0; }), {"fpga.bin", "sensor.bin"},
            {{"fpga.bin", small.parts().at(1).data}, {"sensor.bin", small.parts().at(2).data}});

        // A layout that would make a part carry another's bytes, the header's or
        // none, or bytes beyond the package, is refused whole.
        const auto withOffset = [&small](int index, quint32 offset) {
            return edited(small, [=](IMG_HEAD_INFO_EX &h) { h.subImgInfo[index].u32subimgoffset = offset; });
        };
        const quint32 fpgaOffset = small.header().subImgInfo[1].u32subimgoffset;
        const quint32 sensorOffset = small.header().subImgInfo[2].u32subimgoffset;
        rejected("descriptors out of order", edited(small, [=](IMG_HEAD_INFO_EX &h) {
                     h.subImgInfo[1].u32subimgoffset = sensorOffset;
                     h.subImgInfo[2].u32subimgoffset = fpgaOffset;
                 }), SplitError::Overlapping);
        rejected("two descriptors at one offset", withOffset(1, sensorOffset), SplitError::Overlapping);
        rejected("unused entry after a used one", withOffset(1, 0), SplitError::Overlapping);
        rejected("offset inside the header", withOffset(0, 4), SplitError::InsideHeader);
        rejected("offset at the header's last byte", withOffset(0, quint32(sizeof(IMG_HEAD_INFO_EX) - 1)),
                 SplitError::InsideHeader);
        // A sub-image runs up to the next descriptor's offset, whatever its type.
        const PackageBuilder appBoot = packageOf({IMG_TAREL_APP, IMG_BOOT}, {SmallSize, SmallSize});
        const quint32 beyondAppBoot = quint32(appBoot.bytes().size() + 1);
        rejected("sub-image running past the end before a skipped one",
                 edited(appBoot, [=](IMG_HEAD_INFO_EX &h) { h.subImgInfo[1].u32subimgoffset = beyondAppBoot; }),
                 SplitError::Damaged);
        const PackageBuilder toTheEnd = packageOf({IMG_TAREL_APP, IMG_TAREL_FPGA}, {SmallSize, 0});
        rejected("empty last sub-image, starting at the end", toTheEnd.bytes(), SplitError::Damaged);
        rejected("sub-image ending one byte past the end",
                 edited(toTheEnd, [](IMG_HEAD_INFO_EX &h) { ++h.subImgInfo[1].u32subimgoffset; }), SplitError::Damaged);
        const PackageBuilder others = packageOf({IMG_TAREL_APP, IMG_UNKNOWN, IMG_UNKNOWN},
                                                {SmallSize, SmallSize, SmallSize});
        row("two other parts share one file and are listed twice", others.bytes(),
            {"app.bin", "other.bin", "other.bin"}, filesOf(others, {"app.bin", "other.bin", "other.bin"}));

        const PackageBuilder single = packageOf({IMG_TAREL_APP}, {SmallSize});
        const auto withCount = [&](qint8 count) {
            return edited(single, [=](IMG_HEAD_INFO_EX &h) { h.subImgNum = count; });
        };
        rejected("missing file", QByteArray(), SplitError::CannotOpen);
        rejected("header one byte short", single.bytes().left(int(sizeof(IMG_HEAD_INFO_EX)) - 1),
                 SplitError::BadHeader);
        rejected("wrong magic", edited(single, [](IMG_HEAD_INFO_EX &h) { h.u32magic = IMG_PACKAGE_MAGIC + 1; }),
                 SplitError::BadMagic);
        rejected("no sub-images", withCount(0), SplitError::BadCount);
        rejected("six sub-images", withCount(IMG_MAX_SUB_IMAGES + 1), SplitError::BadCount);
        rejected("count byte 0x80", withCount(-128), SplitError::BadCount);
        const quint32 pastTheEnd = quint32(single.bytes().size() + 1);
        rejected("last sub-image starts one byte past the end",
                 edited(single, [=](IMG_HEAD_INFO_EX &h) { h.subImgInfo[0].u32subimgoffset = pastTheEnd; }),
                 SplitError::Damaged);
        rejected("cut one byte inside the middle sub-image",
                 small.bytes().left(int(small.header().subImgInfo[2].u32subimgoffset) - 1), SplitError::Damaged);
        // Both parts are extracted, then removed: nobody will send them.
        PackageBuilder noUpgrade;
        noUpgrade.addPart(IMG_TAREL_APP, pattern(SmallSize, 1), false);
        noUpgrade.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2), false);
        rejected("no part for upgrade", noUpgrade.bytes(), SplitError::NothingToSend);
        // The application part before it is removed again, the sensor part after it never written; the
        // directory is not the splitter's to remove, a part cut short by a full disk is.
        row("part name taken by a directory", small.bytes(), {}, {{"fpga.bin", QByteArray()}},
            SplitError::CannotWrite, "dir");
        row("disk full", small.bytes(), {}, {}, SplitError::CannotWrite, "full");
    }

    void split_writesEverySubImageAndListsTheUpgradeParts()
    {
        QFETCH(QByteArray, package);
        QFETCH(QStringList, listed);
        QFETCH(QVariantMap, files);
        QFETCH(SplitError, error);
        QFETCH(QString, blocker);
        const QString fullDevice = QStringLiteral("/dev/full"); // opens for writing; every write fails with ENOSPC
        if (blocker == QLatin1String("full") && !QFileInfo::exists(fullDevice))
            QSKIP("needs /dev/full");
        if (!blocker.isEmpty())
            QVERIFY(blocker == QLatin1String("dir") ? QDir::current().mkdir(QStringLiteral("fpga.bin"))
                                                    : QFile::link(fullDevice, outputPath("fpga.bin")));
        const QString path = package.isNull() ? m_input->filePath(QStringLiteral("absent.img")) : writePackage(package);

        QStringList outPaths{QStringLiteral("earlier.bin")};
        auto got = SplitError::NothingToSend;
        QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(path, outPaths, QString(), &got), listed.size());
        QCOMPARE(got, error);
        QStringList expected{QStringLiteral("earlier.bin")};
        for (const QString &name : qAsConst(listed))
            expected << outputPath(name);
        QCOMPARE(outPaths, expected);
        QCOMPARE(outputFiles(), files.keys());
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QCOMPARE(readFile(outputPath(it.key())), it.value().toByteArray());
    }

    void imageType_fromFileName_data()
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
        QTest::newRow("tarel_fpga") << "tarel_fpga.rbf" << int(IMG_TAREL_FPGA);
        QTest::newRow("8333") << "fw8333.hex" << int(IMG_TAREL_8333_SENSOR);
        QTest::newRow("board.dtb") << "board.dtb" << int(IMG_KERNEL);
        QTest::newRow("indexed part name") << "part2_type4.bin" << int(IMG_UNKNOWN);
        QTest::newRow("directory ignored") << "/tmp/kernel_env/uboot_dir/fpga.bin" << int(IMG_TAREL_FPGA);
    }

    void imageType_fromFileName()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QCOMPARE(int(PackageSplitter::getImgTypeFromFileName(name)), type);
    }

    void builder_headerMatchesPackageByteLayout()
    {
        PackageBuilder builder;
        builder.setBoardType(0x11223344);
        builder.setVersions(1, 2, 3);
        builder.setBuildTime(0x0102030405060708ull);
        builder.addPart(IMG_TAREL_APP, pattern(10, 1));
        QVERIFY(builder.addPart(PackagePart{IMG_TAREL_FPGA, false, pattern(20, 2), 0x1000}));

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

    void tool_packageSplitsBackIntoItsParts()
    {
        QVERIFY2(QFileInfo::exists(toolPath()), qPrintable("not built: " + toolPath()));
        // Each part from a file of its own, in the order given; "other" not for upgrade.
        const QStringList kinds{"sensor", "app", "other"};
        const QList<QByteArray> parts{pattern(SmallSize, 1), pattern(AppSize, 2), pattern(SmallSize, 3)};
        const QString package = m_input->filePath("made.img");
        QStringList arguments{package, "--board", "7", "--no-upgrade", "other"};
        for (int i = 0; i < kinds.size(); ++i) {
            arguments << "--" + kinds.at(i) << m_input->filePath(kinds.at(i) + ".fw");
            QVERIFY(TestBytes::writeFile(arguments.last(), parts.at(i)));
        }
        QProcess tool;
        tool.start(toolPath(), arguments);
        QVERIFY(tool.waitForFinished());
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.exitCode(), 0);
        QCOMPARE(readFile(package).mid(4, 4).toHex(' '), QByteArray("07 00 00 00"));

        // Into a folder of its own: nothing lands in the working directory.
        const QDir folder(m_input->filePath("parts"));
        QVERIFY(QDir().mkdir(folder.path()));
        QStringList outPaths;
        QCOMPARE(PackageSplitter::upgradeImag_parse_tarel_sky(package, outPaths, folder.path()), 2);
        QCOMPARE(outPaths, QStringList({folder.filePath("sensor.bin"), folder.filePath("app.bin")}));
        for (int i = 0; i < kinds.size(); ++i)
            QCOMPARE(readFile(folder.filePath(kinds.at(i) + ".bin")), parts.at(i));
        QCOMPARE(outputFiles(), QStringList());
    }
private:
    QString writePackage(const QByteArray &bytes)
    {
        const QString path = m_input->filePath(QStringLiteral("package.img"));
        return PackageBuilder::writeBytes(path, bytes) ? path : QString();
    }

    QString m_originalDir;
    QScopedPointer<QTemporaryDir> m_work;
    QScopedPointer<QTemporaryDir> m_input;
};

QTEST_GUILESS_MAIN(TestPackageSplitter)
#include "tst_packagesplitter.moc"
