#include "logsystem.h"
#include "startup.h"

#include <QApplication>
#include <QFontInfo>
#include <QRawFont>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        qInstallMessageHandler(customMessageHandler);
        Startup::initResources();
    }

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
private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
