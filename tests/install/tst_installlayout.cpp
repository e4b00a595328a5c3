// What the package relies on: its catalogues and embedded font cover every text and the program starts in the
// saved language with that font; the udev rule covers exactly the devices the program recognises, the installed
// program keeps its files in the user's data folder, --help and --version answer without a display, and a port that
// is there but may not be opened for lack of permission is told as such (the file system's word on it, the message,
// the window and the command) instead of the usual "cannot open" or "no device".
#include "catalogues.h"
#include "expectedboxes.h"
#include "fixedportlister.h"
#include "flashcommand.h"
#include "logcapture.h"
#include "logsystem.h"
#include "portaccess.h"
#include "portfinder.h"
#include "programfiles.h"
#include "startup.h"
#include "testbytes.h"
#include "upgradepage.h"
#include "usbvirtualserial.h"

#include <QApplication>
#include <QDir>
#include <QFontInfo>
#include <QProcess>
#include <QRawFont>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextStream>
#include <QToolButton>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
struct Text
{
    QString context;
    QString source;
};

// Texts the program shows the same in both languages: device names, the bilingual language label, the flash-error
// hint, window titles, the language names themselves and form placeholders replaced at run time.
bool sameInBothLanguages(const Text &text)
{
    static const QStringList anyContext = {
        QStringLiteral("NO Device"), QStringLiteral("Merlow Gnd"), QStringLiteral("Merlow Sky"),
        QStringLiteral("Merlow FPV"), QStringLiteral("Language/语言"), QStringLiteral("Form"),
        QStringLiteral("中文"), QStringLiteral("English"),
        QStringLiteral("升级错误：Flash错误，请重启设备再次升级！"), QStringLiteral("..."),
        QStringLiteral("%1"), QStringLiteral("%1%"), QStringLiteral("versionlabel")};
    return anyContext.contains(text.source);
}

// The one text the Chinese catalogue shortens, and how.
const QString UnknownError = QStringLiteral("升级错误：未知错误！请重启设备再次升级！");
const QString ShortUnknownError = QStringLiteral("升级错误：未知错误！");

bool hasChinese(const QString &text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

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
        Startup::initResources();
        // Every translatable text of the sources and forms, as lupdate finds them.
        QTemporaryDir dir;
        const QString ts = dir.filePath(QStringLiteral("all.ts"));
        QProcess lupdate;
        lupdate.setWorkingDirectory(QStringLiteral(TAVIO_SOURCE_DIR));
        lupdate.start(QStringLiteral("lupdate"),
                      QStringLiteral("-silent -locations none log app link upgrade ui -ts").split(' ') << ts);
        QVERIFY2(lupdate.waitForFinished(60000) && lupdate.exitCode() == 0,
                 qPrintable(QString::fromLocal8Bit(lupdate.readAllStandardError())));
        QFile file(ts);
        QVERIFY2(file.open(QIODevice::ReadOnly), "no catalogue written");
        QXmlStreamReader xml(&file);
        QString context;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("source"))
                m_texts.append({context, xml.readElementText()});
        }
        QVERIFY(m_texts.size() > 50); // lupdate found the sources
        QVERIFY(m_english.load(QStringLiteral(":lang_en.qm")) && m_chinese.load(QStringLiteral(":lang_cn.qm")));
        m_deniedPort = m_dir.filePath(QStringLiteral("ttyACM-denied"));
        // The start-up's own log from here on, its font check first.
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        qInstallMessageHandler(customMessageHandler);
    }


    void cleanup() { QCoreApplication::removeTranslator(&m_english); }

    // Without a saved language nothing is installed, the first log line is the
    // unprefixed font check, and the embedded font becomes the 9-point default.
    void noLangKey_startsWithTheFontCheckAndTheEmbeddedFont()
    {
        QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
        QVERIFY(!Startup::installSavedLanguage(settings));
        Startup::loadApplicationFont();

        QFile log(QStringLiteral("log.txt"));
        QTRY_VERIFY(log.exists() && log.size() > 0);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString firstLine = QString::fromUtf8(log.readLine());
        QVERIFY2(QRegularExpression(QStringLiteral("^\\[[-0-9 :.]{23}\\]\\[DEBUG\\] File exists: true\\n$"))
                     .match(firstLine).hasMatch(),
                 qPrintable(firstLine));

        const QFont font = QApplication::font();
        QCOMPARE(font.family(), QStringLiteral("OPPOSans R"));
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("OPPOSans R"));
        QCOMPARE(font.pointSize(), 9);
        QCOMPARE(font.weight(), 57);
        QVERIFY(!font.italic());
    }

    void savedLanguage_installsEnglishOnlyForExactlyEnglish_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<bool>("english");
        QTest::newRow("english") << "english" << true;
        QTest::newRow("English") << "English" << false;
        QTest::newRow("chinese") << "chinese" << false;
        QTest::newRow("empty") << "" << false;
    }

    void savedLanguage_installsEnglishOnlyForExactlyEnglish()
    {
        QFETCH(QString, lang);
        QFETCH(bool, english);
        const QString path = m_dir.filePath(QStringLiteral("lang-%1.ini").arg(QTest::currentDataTag()));
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(QStringLiteral("lang"), lang);

        // Removed again as it goes, whatever the outcome.
        std::unique_ptr<QTranslator> translator(Startup::installSavedLanguage(settings));
        QCOMPARE(translator != nullptr, english);
        QCOMPARE(QCoreApplication::translate("SideBar", "设置"),
                 english ? QStringLiteral("Setting") : QStringLiteral("设置"));
        // Qt's own buttons and file dialog speak the same language.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"),
                 english ? QStringLiteral("Cancel") : QStringLiteral("取消"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"),
                 english ? QStringLiteral("Look in:") : QStringLiteral("查找范围："));
    }

    // Bold text comes from the embedded Bold face, not from the Regular face
    // thickened; the medium default stays on the Regular face.
    void boldText_isDrawnFromTheBoldFace_data()
    {
        QTest::addColumn<int>("weight");
        QTest::addColumn<QString>("style");
        QTest::newRow("the default, medium") << 57 << "Regular";
        QTest::newRow("bold") << int(QFont::Bold) << "Bold";
    }

    void boldText_isDrawnFromTheBoldFace()
    {
        QFETCH(int, weight);
        QFETCH(QString, style);
        Startup::loadApplicationFont();
        QFont font = QApplication::font();
        font.setWeight(weight);
        const QRawFont face = QRawFont::fromFont(font);
        QCOMPARE(face.familyName(), QStringLiteral("OPPOSans R"));
        QCOMPARE(face.styleName(), style);
    }

    // English translates every text (but those that stay as they are); Chinese
    // leaves every text as its source, but the one it shortens. The exact English
    // texts are checked where they are shown (startup, the command's results).
    void catalogues_coverEveryText()
    {
        QStringList wrong;
        for (const Text &text : m_texts) {
            const QString english = inEnglish(text);
            const QString chinese = m_chinese.translate(text.context.toUtf8(), text.source.toUtf8());
            const QString where = QStringLiteral("%1: \"%2\"").arg(text.context, text.source);
            if (sameInBothLanguages(text) ? !english.isEmpty() && english != text.source
                                          : english.isEmpty() || hasChinese(english))
                wrong.append(where + QStringLiteral(" in English: \"%1\"").arg(english));
            if (text.source == UnknownError ? chinese != ShortUnknownError
                                            : !chinese.isEmpty() && chinese != text.source)
                wrong.append(where + QStringLiteral(" in Chinese: \"%1\"").arg(chinese));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    void embeddedFont_drawsEveryCharacterOfBothLanguages_data()
    {
        QTest::addColumn<QString>("face");
        QTest::newRow("Regular") << ":/res/fonts/OPPOSANS-R.TTF";
        QTest::newRow("Bold") << ":/res/fonts/OPPOSANS-B.TTF";
    }

    // The program's texts, and the Chinese texts of Qt's file dialog and buttons.
    void embeddedFont_drawsEveryCharacterOfBothLanguages()
    {
        QFETCH(QString, face);
        QFile fontFile(face);
        QVERIFY(fontFile.open(QIODevice::ReadOnly));
        const QRawFont font(fontFile.readAll(), 12);
        QVERIFY(font.isValid());
        QTranslator qtChinese;
        QVERIFY(qtChinese.load(Catalogues::qtCatalogue(Catalogues::Language::Chinese)));
        QStringList texts;
        for (const Text &text : m_texts)
            texts << text.source << inEnglish(text);
        for (const char *source : {"OK", "Cancel", "&Yes", "&No", "Open", "Close"})
            texts << qtChinese.translate("QPlatformTheme", source);
        for (const char *source : {"Look in:", "File &name:", "Files of type:", "All Files (*)", "Back",
                                   "Forward", "Parent Directory", "Create New Folder", "List View",
                                   "Detail View", "Sidebar", "Recent Places", "My Computer"})
            texts << qtChinese.translate("QFileDialog", source);
        for (const char *source : {"Name", "Size", "Type", "Date Modified"})
            texts << qtChinese.translate("QFileSystemModel", source);
        QString missing;
        for (const QString &text : texts) {
            for (const QChar c : text) {
                if (!c.isSpace() && !font.supportsCharacter(c) && !missing.contains(c))
                    missing += c;
            }
        }
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not in the font: ") + missing));
    }

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
    QString inEnglish(const Text &text) const
    {
        return m_english.translate(text.context.toUtf8(), text.source.toUtf8());
    }

    QTemporaryDir m_dir;
    QList<Text> m_texts;
    QTranslator m_english;
    QTranslator m_chinese;
    QString m_deniedPort; // does not open: nothing is there
};

QTEST_MAIN(TestInstallLayout)
#include "tst_installlayout.moc"
