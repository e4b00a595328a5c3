// What the package relies on: the udev rule covers exactly the devices the
// program recognises, the installed program keeps its files in the user's
// data folder, and --help and --version answer without a display.
#include "portfinder.h"
#include "programfiles.h"
#include "testbytes.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString Dist = QStringLiteral(TAVIO_SOURCE_DIR "/dist");
} // namespace

class TestInstallLayout : public QObject
{
    Q_OBJECT

private slots:
    void udevRule_coversEveryRecognisedDeviceAndNoOther()
    {
        const QString rule = QString::fromUtf8(TestBytes::readFile(Dist + QStringLiteral("/70-tavio.rules")));
        QSet<int> ruled;
        const QRegularExpression entry(QStringLiteral("^ENV\\{ID_VENDOR_ID\\}==\"([0-9a-f]{4})\", TAG\\+=\"uaccess\"$"),
                                        QRegularExpression::MultilineOption);
        for (auto it = entry.globalMatch(rule); it.hasNext();)
            ruled.insert(it.next().captured(1).toInt(nullptr, 16));
        QSet<int> recognised;
        for (int vid = 0; vid <= 0xffff; ++vid)
            if (PortFinder::isRecognisedVendor(vid))
                recognised.insert(vid);
        QCOMPARE(ruled, recognised);
        QVERIFY(rule.contains(QStringLiteral("ENV{ID_VENDOR}==\"%1\", TAG+=\"uaccess\"")
                                  .arg(QLatin1String(PortFinder::DeviceManufacturer))));
    }

    void programFolder_isTheDataFolderOnlyWhenInstalledOrUnwritable_data()
    {
        QTest::addColumn<QString>("desktopEntry"); // beside the binary folder; empty: none
        QTest::addColumn<bool>("workingDirWritable");
        QTest::addColumn<bool>("dataFolder");
        const QStringList entries = QDir(Dist).entryList({QStringLiteral("*.desktop")});
        QCOMPARE(entries.size(), 1);
        const QString installed = entries.first();
        QTest::newRow("a build, writable folder") << "" << true << false;
        QTest::newRow("a build, unwritable folder") << "" << false << true;
        QTest::newRow("installed, writable folder") << installed << true << true;
        QTest::newRow("installed, unwritable folder") << installed << false << true;
        QTest::newRow("another program's entry beside it") << "other.desktop" << true << false;
    }

    void programFolder_isTheDataFolderOnlyWhenInstalledOrUnwritable()
    {
        QFETCH(QString, desktopEntry);
        QFETCH(bool, workingDirWritable);
        QFETCH(bool, dataFolder);
        QTemporaryDir prefix;
        QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("bin")));
        if (!desktopEntry.isEmpty()) {
            QVERIFY(QDir(prefix.path()).mkpath(QStringLiteral("share/applications")));
            QFile entry(prefix.filePath(QStringLiteral("share/applications/") + desktopEntry));
            QVERIFY(entry.open(QIODevice::WriteOnly));
        }
        const QString data = prefix.filePath(QStringLiteral("home/.local/share/tavio-pc-tool"));
        const bool installed = ProgramFiles::isInstalled(prefix.filePath(QStringLiteral("bin")));
        QCOMPARE(ProgramFiles::chooseFolder(installed, workingDirWritable, data), dataFolder ? data : QString());
    }

    void helpAndVersion_needNoDisplay_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("answer");
        QTest::newRow("window, version") << "tavio-pc-tool" << "--version" << "tavio-pc-tool " TAVIO_VERSION "\n";
        QTest::newRow("window, help") << "tavio-pc-tool" << "--help" << "--port";
        QTest::newRow("command, version") << "tavio-flash" << "--version" << TAVIO_VERSION;
        QTest::newRow("command, help") << "tavio-flash" << "--help" << "upgrade FILE";
    }

    void helpAndVersion_needNoDisplay()
    {
        QFETCH(QString, program);
        QFETCH(QString, option);
        QFETCH(QString, answer);
        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../") + program);
        // No display of any kind to connect to.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QLatin1String(name));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(path, {option});
        QVERIFY2(process.waitForFinished(60000), qPrintable(program + QStringLiteral(" did not end")));
        const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY2(process.exitCode() == 0, qPrintable(QString::fromLocal8Bit(process.readAllStandardError())));
        QVERIFY2(output.contains(answer), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(TestInstallLayout)
#include "tst_installlayout.moc"
