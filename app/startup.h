#ifndef STARTUP_H
#define STARTUP_H

class QCommandLineParser;
class QSettings;
class QTranslator;

// Steps of the program's start-up, kept apart from main() so tests can run them.
namespace Startup {

// Registers the embedded resources (font, images, catalogues) of the static libraries.
void initResources();

// The program's description and options, --help and --version included.
void describeOptions(QCommandLineParser &parser);

// Answers --help and --version before the window's application exists, so
// they need no display: prints the answer and ends the process. Returns
// when neither is asked for.
void answerHelpOrVersion(int argc, char *argv[]);

// Installs the English catalogue when the saved "lang" is exactly "english".
// Returns the installed translator (never freed) or null. Qt's own
// catalogue of the same language goes in too (Catalogues).
QTranslator *installSavedLanguage(QSettings &settings);

// Registers the embedded font, its Regular and its Bold face, and makes it
// the 9-point application default.
void loadApplicationFont();

} // namespace Startup

// Logs the properties of the current application font (diagnostics only).
void printFontInfo();

#endif // STARTUP_H
