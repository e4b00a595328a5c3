#include "startup.h"

#include "catalogues.h"
#include "logging.h"
#include "portoptions.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSettings>
#include <QTranslator>

namespace {
const char FontResource[] = ":/res/fonts/OPPOSANS-R.TTF";
// The real bold face, so bold text is not the Regular face thickened.
const char BoldFontResource[] = ":/res/fonts/OPPOSANS-B.TTF";
const char Version[] = TAVIO_VERSION;
constexpr int DefaultFontPointSize = 9;
constexpr int DefaultFontWeight = 57; // medium, on the 0-99 weight scale
} // namespace

static void initTavioResources()
{
    Q_INIT_RESOURCE(res);
    Q_INIT_RESOURCE(translations);
}

namespace Startup {

void initResources()
{
    initTavioResources();
}

void describeOptions(QCommandLineParser &parser)
{
    QCoreApplication::setApplicationVersion(QString::fromLatin1(Version));
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades the firmware of FPV video-link devices over their USB serial port."));
    parser.addHelpOption();
    parser.addVersionOption();
    PortOptions::addTo(parser);
}

void answerHelpOrVersion(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    describeOptions(parser);
    // The window's application takes Qt's own options (-platform ...) out
    // first: an option unknown here is left to it.
    if (!parser.parse(QCoreApplication::arguments()))
        return;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version")))
        parser.process(app); // prints and exits
}

QTranslator *installSavedLanguage(QSettings &settings)
{
    const QString language = settings.value(QStringLiteral("lang"), QString()).toString();
    if (settings.contains(QStringLiteral("lang")))
        LOG_INFO << "language " << language;
    const bool english = language == QLatin1String("english");
    Catalogues::installQtCatalogue(english ? Catalogues::Language::English : Catalogues::Language::Chinese);
    if (!english)
        return nullptr;
    LOG_INFO << "load english qm";
    auto *translator = new QTranslator;
    translator->load(Catalogues::programCatalogue(Catalogues::Language::English));
    QCoreApplication::installTranslator(translator);
    return translator;
}

void loadApplicationFont()
{
    const QString fontPath = QString::fromLatin1(FontResource);
    qDebug() << "File exists:" << QFile::exists(fontPath);
    const int fontId = QFontDatabase::addApplicationFont(fontPath);
    if (fontId == -1) {
        qDebug() << "Failed to load font from resource!";
        QFile fontFile(fontPath);
        if (!fontFile.open(QIODevice::ReadOnly))
            qDebug() << "File open error:" << fontFile.errorString();
        else
            fontFile.close();
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (families.isEmpty()) {
        qDebug() << "Failed to get font families!";
        return;
    }
    qDebug() << "Loaded font family:" << families.first();
    if (QFontDatabase::addApplicationFont(QString::fromLatin1(BoldFontResource)) == -1)
        qDebug() << "Failed to load the bold face from resource!";
    QApplication::setFont(QFont(families.first(), DefaultFontPointSize, DefaultFontWeight, false));
}

} // namespace Startup

void printFontInfo()
{
    const QFont font = QApplication::font();
    const QFontInfo info(font);
    qDebug() << "=== 应用程序字体信息 ===";
    qDebug() << "(Requested Family):" << font.family();
    qDebug() << "(Actual Family):" << info.family();
    qDebug() << "点大小 (Point Size):" << info.pointSizeF();
    qDebug() << "像素大小 (Pixel Size):" << info.pixelSize();
    qDebug() << "权重 (Weight):" << info.weight();
    qDebug() << "是否加粗 (Bold):" << info.bold();
    qDebug() << "是否斜体 (Italic):" << info.italic();
    qDebug() << "是否下划线 (Underline):" << info.underline();
    qDebug() << "是否删除线 (StrikeOut):" << info.strikeOut();
    qDebug() << "=================================";
}
