// What the package relies on: the udev rule covers exactly the devices the program recognises, the installed
// program keeps its files in the user's data folder, --help and --version answer without a display, and a port that
// is there but may not be opened for lack of permission is told as such (the file system's word on it, the message,
// the window and the command) instead of the usual "cannot open" or "no device".
#include "expectedboxes.h"
#include "fixedportlister.h"
#include "flashcommand.h"
#include "logcapture.h"
#include "portaccess.h"
#include "portfinder.h"
#include "programfiles.h"
#include "testbytes.h"
#include "upgradepage.h"
#include "usbvirtualserial.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>
#include <QTranslator>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
const QString Dist = QStringLiteral(TAVIO_SOURCE_DIR "/dist");
const QString Group = QStringLiteral("plugdev");

// Lists one port of a recognised device, which the user may not open.
class DeniedPortLister : public FixedPortLister
{
public:
    explicit DeniedPortLister(const QString &path) : FixedPortLister({{path, QString(), AR_FPV_BOARD_TYPE_GT_SKY}}) {}
    PortAccess accessOf(const QString &portName) const override { return {portName, true, false, Group}; }
};
} // namespace

class TestInstallLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(translations);
        QVERIFY(m_dir.isValid());
        QVERIFY(m_english.load(QStringLiteral(":lang_en.qm")));
        QVERIFY(QDir::setCurrent(m_dir.path()));
        m_deniedPort = m_dir.filePath(QStringLiteral("ttyACM-denied"));
    }

    void cleanup() { QCoreApplication::removeTranslator(&m_english); }

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
        QTest::newRow("command, help") << "tavio-flash" << "--help" << "upgrade PATH";
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

    void fileSystem_tellsWhetherThePortMayBeOpened_data()
    {
        QTest::addColumn<QString>("name"); // "tty...": a device name, not there; else a file made in the folder
        QTest::addColumn<int>("permissions");
        QTest::addColumn<bool>("denied");
        const int readWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QTest::newRow("a name alone is a device file") << "ttyNOSUCH" << readWrite << false;
        QTest::newRow("readable and writable") << "port-rw" << readWrite << false;
        QTest::newRow("read only") << "port-ro" << int(QFileDevice::ReadOwner) << true;
    }

    void fileSystem_tellsWhetherThePortMayBeOpened()
    {
        QFETCH(QString, name);
        QFETCH(int, permissions);
        QFETCH(bool, denied);
    #ifdef Q_OS_UNIX
        if (denied && ::geteuid() == 0)
            QSKIP("root may open any file: the injected check covers the denial");
    #endif
        const bool deviceName = name.startsWith(QLatin1String("tty")), made = !deviceName;
        const QString path = deviceName ? QStringLiteral("/dev/") + name : m_dir.filePath(name);
        if (made)
            QVERIFY(TestBytes::writeFile(path, QByteArray())
                    && QFile::setPermissions(path, QFileDevice::Permissions(permissions)));
        const PortAccess access = PortAccess::of(deviceName ? name : path);
        QCOMPARE(access.path, path);
        QCOMPARE(access.exists, made);
        QCOMPARE(access.denied(), denied);
        if (made)
            QCOMPARE(access.group, QFileInfo(path).group());
    }

    // Both languages name the port, the rule and the port's group (the usual
    // one when the owner is unknown), with every placeholder filled.
    void deniedText_namesThePortTheRuleAndTheGroup_data()
    {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("group");
        QTest::newRow("Chinese") << false << Group;
        QTest::newRow("English") << true << Group;
        QTest::newRow("owner unknown") << true << QString();
    }

    void deniedText_namesThePortTheRuleAndTheGroup()
    {
        QFETCH(bool, english);
        QFETCH(QString, group);
        if (english)
            QCoreApplication::installTranslator(&m_english);
        const QString text = PortAccess{QStringLiteral("/dev/ttyACM0"), true, false, group}.deniedText();
        const QString shownGroup = group.isEmpty() ? QStringLiteral("dialout") : group;
        for (const QString &part : {QStringLiteral("/dev/ttyACM0"),
                                    QStringLiteral("/usr/lib/udev/rules.d/70-tavio.rules"),
                                    QStringLiteral("usermod -aG ") + shownGroup})
            QVERIFY2(text.contains(part), qPrintable(text + QStringLiteral(" lacks ") + part));
        QCOMPARE(text.startsWith(QLatin1String("No permission")), english);
        QVERIFY(!text.contains(QLatin1Char('%')));
    }

    // Connect, or a console command, on a port the user may not open says so,
    // not "restart the device" or "connect the device".
    void window_showsHowToGetAccess_data()
    {
        QTest::addColumn<bool>("console");
        QTest::newRow("Connect") << false;
        QTest::newRow("console command") << true;
    }

    void window_showsHowToGetAccess()
    {
        QFETCH(bool, console);
        LogCapture log;
        ExpectedBoxes boxes;
        UsbVirtualSerial link(std::make_shared<DeniedPortLister>(m_deniedPort));
        UpgradePage page(nullptr, &link, nullptr, std::make_shared<SystemClock>());
        page.enterDeviceConnNotePage();
        boxes.expect(QStringLiteral("警告"), PortAccess{m_deniedPort, true, false, Group}.deniedText());
        page.handleDeviceDetected(AR_FPV_BOARD_TYPE_GT_SKY);
        if (console) {
            QSignalSpy done(&page, &UpgradePage::consoleCommandDone);
            page.handleTextFromSettingPage(QStringLiteral("4F 54"));
            QVERIFY(done.wait(10000));
        } else {
            QSignalSpy answered(&page, &UpgradePage::connectAnswered);
            page.findChild<QToolButton *>(QStringLiteral("btnConnDevice"))->click();
            QVERIFY(answered.wait(10000));
        }
        VERIFY_BOXES(boxes);
        QVERIFY(!link.SerialPortIsOpen());
    }

    void command_exitsWithNoDeviceAndHowToGetAccess()
    {
        LogCapture log;
        QCoreApplication::installTranslator(&m_english);
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        FlashEnvironment environment;
        environment.systemPorts = std::make_shared<DeniedPortLister>(m_deniedPort);
        environment.out = &outStream;
        environment.err = &errStream;
        const int exitCode = FlashCommand(environment).run({QStringLiteral("tavio-flash"), QStringLiteral("info")});
        errStream.flush();
        QCOMPARE(exitCode, 3);
        const QString expected = PortAccess{m_deniedPort, true, false, Group}.deniedText();
        QVERIFY2(err.contains(expected), qPrintable(err));
    }
private:
    QTemporaryDir m_dir;
    QTranslator m_english;
    QString m_deniedPort; // does not open: nothing is there
};

QTEST_MAIN(TestInstallLayout)
#include "tst_installlayout.moc"
