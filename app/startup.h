#ifndef STARTUP_H
#define STARTUP_H

class QSettings;
class QTranslator;

// Steps of the program's start-up, kept apart from main() so tests can run them.
namespace Startup {

// Registers the embedded resources (font, images, catalogues) of the static libraries.
void initResources();

// Installs the English catalogue when the saved "lang" is exactly "english".
// Returns the installed translator (never freed) or null.
QTranslator *installSavedLanguage(QSettings &settings);

// Registers the embedded font and makes it the 9-point application default.
void loadApplicationFont();

} // namespace Startup

// Logs the properties of the current application font (diagnostics only).
void printFontInfo();

#endif // STARTUP_H
