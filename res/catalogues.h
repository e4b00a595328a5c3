#ifndef CATALOGUES_H
#define CATALOGUES_H

#include <QString>

class QTranslator;

// The translation catalogues of the interface's two languages: the
// program's own, embedded, and Qt's, for Qt's own dialogs and buttons (the
// file dialog, "OK", "Yes"), which Debian installs with Qt
// (qttranslations5-l10n) in Qt's translations folder.
namespace Catalogues {

enum class Language { Chinese, English };

// ":lang_cn.qm" or ":lang_en.qm".
QString programCatalogue(Language language);

// Qt's catalogue of the language, in Qt's translations folder.
QString qtCatalogue(Language language);

// Puts Qt's catalogue of the language in place of the one installed before
// (the process keeps one). False when Qt's catalogue is missing: Qt's texts
// then stay English.
bool installQtCatalogue(Language language);

} // namespace Catalogues

#endif // CATALOGUES_H
