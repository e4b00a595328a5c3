#include "catalogues.h"
#include "logsystem.h"
#include "startup.h"

#include <QApplication>
#include <QFontInfo>
#include <QProcess>
#include <QRawFont>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

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
    static const QRegularExpression cjk(
        QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

} // namespace

class TestCatalogues : public QObject
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
        // The start-up's own log from here on, its font check first.
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        qInstallMessageHandler(customMessageHandler);
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
private:
    QString inEnglish(const Text &text) const
    {
        return m_english.translate(text.context.toUtf8(), text.source.toUtf8());
    }

    QTemporaryDir m_dir;
    QList<Text> m_texts;
    QTranslator m_english;
    QTranslator m_chinese;
};

QTEST_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
