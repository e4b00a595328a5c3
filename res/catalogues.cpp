#include "catalogues.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace Catalogues {

QString programCatalogue(Language language)
{
    return language == Language::English ? QStringLiteral(":lang_en.qm") : QStringLiteral(":lang_cn.qm");
}

QString qtCatalogue(Language language)
{
    const QString name = language == Language::English ? QStringLiteral("qtbase_en.qm")
                                                        : QStringLiteral("qtbase_zh_CN.qm");
    return QDir(QLibraryInfo::location(QLibraryInfo::TranslationsPath)).filePath(name);
}

bool installQtCatalogue(Language language)
{
    static QTranslator *const installed = new QTranslator; // lives as long as the process
    QCoreApplication::removeTranslator(installed);
    if (!installed->load(qtCatalogue(language)))
        return false;
    QCoreApplication::installTranslator(installed);
    return true;
}

} // namespace Catalogues
