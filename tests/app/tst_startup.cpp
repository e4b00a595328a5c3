#include "logsystem.h"
#include "startup.h"

#include <QApplication>
#include <QFontInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void noLangKey_firstLogLineIsTheUnprefixedFontCheck();
    void embeddedFont_becomesTheNinePointDefault();
    void savedLanguage_installsEnglishOnlyForExactlyEnglish_data();
    void savedLanguage_installsEnglishOnlyForExactlyEnglish();
    void chineseCatalogue_keepsSourcesButShortensTheUnknownError();

private:
    QTemporaryDir m_dir;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qInstallMessageHandler(customMessageHandler);
    Startup::initResources();
}

void TestStartup::noLangKey_firstLogLineIsTheUnprefixedFontCheck()
{
    QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
    QVERIFY(!Startup::installSavedLanguage(settings));
    Startup::loadApplicationFont();

    QFile log(QStringLiteral("log.txt"));
    QTRY_VERIFY(log.exists() && log.size() > 0);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString firstLine = QString::fromUtf8(log.readLine());
    QVERIFY2(QRegularExpression(QStringLiteral(
                 "^\\[[-0-9 :.]{23}\\]\\[DEBUG\\] File exists: true\\n$"))
                 .match(firstLine).hasMatch(),
             qPrintable(firstLine));
}

void TestStartup::embeddedFont_becomesTheNinePointDefault()
{
    const QFont font = QApplication::font();
    QCOMPARE(font.family(), QStringLiteral("OPPOSans R"));
    QCOMPARE(font.pointSize(), 9);
    QCOMPARE(font.weight(), 57);
    QVERIFY(!font.italic());
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("OPPOSans R"));
}

void TestStartup::savedLanguage_installsEnglishOnlyForExactlyEnglish_data()
{
    QTest::addColumn<QString>("lang");
    QTest::addColumn<bool>("english");
    QTest::newRow("english") << "english" << true;
    QTest::newRow("English") << "English" << false;
    QTest::newRow("chinese") << "chinese" << false;
    QTest::newRow("empty") << "" << false;
}

void TestStartup::savedLanguage_installsEnglishOnlyForExactlyEnglish()
{
    QFETCH(QString, lang);
    QFETCH(bool, english);
    const QString path = m_dir.filePath(QStringLiteral("lang-%1.ini").arg(QTest::currentDataTag()));
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("lang"), lang);

    std::unique_ptr<QTranslator> translator(Startup::installSavedLanguage(settings));
    QCOMPARE(translator != nullptr, english);
    QCOMPARE(QCoreApplication::translate("SideBar", "设置"),
             english ? QStringLiteral("Setting") : QStringLiteral("设置"));
    if (translator)
        QCoreApplication::removeTranslator(translator.get());
}

void TestStartup::chineseCatalogue_keepsSourcesButShortensTheUnknownError()
{
    QTranslator chinese;
    QVERIFY(chinese.load(QStringLiteral(":lang_cn.qm")));
    QCOMPARE(chinese.translate("SideBar", "设置"), QStringLiteral("设置"));
    QCOMPARE(chinese.translate("UpgradeProcess", "升级错误：未知错误！请重启设备再次升级！"),
             QStringLiteral("升级错误：未知错误！"));

    QTranslator english;
    QVERIFY(english.load(QStringLiteral(":lang_en.qm")));
    QCOMPARE(english.translate("UpgradeProcess", "升级错误：未知错误！请重启设备再次升级！"),
             QStringLiteral("Upgrade error: Unknown error!"));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
