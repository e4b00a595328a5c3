#include "startup.h"

#include <QProcess>
#include <QRawFont>
#include <QRegularExpression>
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

// Texts the program shows the same in both languages: device names, the
// bilingual language label, the flash-error hint, window titles, the
// language names themselves and form placeholders replaced at run time.
bool sameInBothLanguages(const Text &text)
{
    static const QStringList anyContext = {
        QStringLiteral("NO Device"), QStringLiteral("Merlow Gnd"), QStringLiteral("Merlow Sky"),
        QStringLiteral("Merlow FPV"), QStringLiteral("Language/语言"), QStringLiteral("Form"),
        QStringLiteral("MainWindow"), QStringLiteral("中文"), QStringLiteral("English"),
        QStringLiteral("升级错误：Flash错误，请重启设备再次升级！"), QStringLiteral("..."),
        QStringLiteral("%1"), QStringLiteral("%1%"), QStringLiteral("versionlabel")};
    return anyContext.contains(text.source);
}

bool hasChinese(const QString &text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

// Every translatable text of the sources and forms, as lupdate finds them.
QList<Text> extractTexts(QString *error)
{
    QTemporaryDir dir;
    const QString ts = dir.filePath(QStringLiteral("all.ts"));
    const QString root = QStringLiteral(TAVIO_SOURCE_DIR);
    QProcess lupdate;
    lupdate.setWorkingDirectory(root);
    lupdate.start(QStringLiteral("lupdate"),
                  {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                   QStringLiteral("log"), QStringLiteral("app"), QStringLiteral("link"), QStringLiteral("upgrade"),
                   QStringLiteral("ui"), QStringLiteral("-ts"), ts});
    if (!lupdate.waitForFinished(60000) || lupdate.exitCode() != 0) {
        *error = QStringLiteral("lupdate failed: ") + QString::fromLocal8Bit(lupdate.readAllStandardError());
        return {};
    }
    QFile file(ts);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no catalogue written");
        return {};
    }
    QList<Text> texts;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            texts.append({context, xml.readElementText()});
    }
    return texts;
}
} // namespace

Q_DECLARE_METATYPE(Text)

class TestCatalogues : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void english_translatesEveryText();
    void chinese_keepsEveryTextButTheShortenedUnknownError();
    void embeddedFont_drawsEveryCharacterOfBothLanguages();

private:
    QList<Text> m_texts;
    QTranslator m_english;
    QTranslator m_chinese;
};

void TestCatalogues::initTestCase()
{
    Startup::initResources();
    QString error;
    m_texts = extractTexts(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(m_texts.size() > 50); // lupdate found the sources
    QVERIFY(m_english.load(QStringLiteral(":lang_en.qm")));
    QVERIFY(m_chinese.load(QStringLiteral(":lang_cn.qm")));
}

void TestCatalogues::english_translatesEveryText()
{
    QStringList missing;
    for (const Text &text : m_texts) {
        const QString english = m_english.translate(text.context.toUtf8(), text.source.toUtf8());
        if (sameInBothLanguages(text)) {
            if (!english.isEmpty() && english != text.source)
                missing.append(QStringLiteral("%1: \"%2\" must stay as it is").arg(text.context, text.source));
            continue;
        }
        if (english.isEmpty() || hasChinese(english))
            missing.append(QStringLiteral("%1: \"%2\"").arg(text.context, text.source));
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("without English:\n") + missing.join('\n')));
}

void TestCatalogues::chinese_keepsEveryTextButTheShortenedUnknownError()
{
    const QString unknownError = QStringLiteral("升级错误：未知错误！请重启设备再次升级！");
    QStringList changed;
    for (const Text &text : m_texts) {
        const QString chinese = m_chinese.translate(text.context.toUtf8(), text.source.toUtf8());
        const QString expected = text.source == unknownError ? QStringLiteral("升级错误：未知错误！") : text.source;
        if (!chinese.isEmpty() && chinese != expected)
            changed.append(QStringLiteral("%1: \"%2\" -> \"%3\"").arg(text.context, text.source, chinese));
        if (chinese.isEmpty() && text.source == unknownError)
            changed.append(QStringLiteral("the unknown-error text is not shortened"));
    }
    QVERIFY2(changed.isEmpty(), qPrintable(changed.join('\n')));
}

void TestCatalogues::embeddedFont_drawsEveryCharacterOfBothLanguages()
{
    QFile fontFile(QStringLiteral(":/res/fonts/OPPOSANS-R.TTF"));
    QVERIFY(fontFile.open(QIODevice::ReadOnly));
    const QRawFont font(fontFile.readAll(), 12);
    QVERIFY(font.isValid());
    QString missing;
    for (const Text &text : m_texts) {
        const QString english = m_english.translate(text.context.toUtf8(), text.source.toUtf8());
        for (const QChar c : text.source + english) {
            if (!c.isSpace() && !font.supportsCharacter(c) && !missing.contains(c))
                missing += c;
        }
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not in the font: ") + missing));
}

QTEST_MAIN(TestCatalogues)
#include "tst_catalogues.moc"
