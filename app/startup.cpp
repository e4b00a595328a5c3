#include "startup.h"

#include "logging.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QSettings>
#include <QTranslator>

namespace {
const char FontResource[] = ":/res/fonts/OPPOSANS-R.TTF";
const char EnglishCatalogue[] = ":lang_en.qm";
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

QTranslator *installSavedLanguage(QSettings &settings)
{
    if (!settings.contains(QStringLiteral("lang")))
        return nullptr;
    const QString language = settings.value(QStringLiteral("lang"), QString()).toString();
    LOG_INFO << "language " << language;
    if (language != QLatin1String("english"))
        return nullptr;
    LOG_INFO << "load english qm";
    auto *translator = new QTranslator;
    translator->load(QString::fromLatin1(EnglishCatalogue));
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
