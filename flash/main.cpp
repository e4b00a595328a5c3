#include "commandcatalogue.h"
#include "flashcommand.h"
#include "logsystem.h"
#include "programfiles.h"
#include "temporaryfolders.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

static bool isTerminal(FILE *stream)
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stream)) != 0;
#else
    return ::isatty(fileno(stream)) == 1;
#endif
}

static void initCatalogues()
{
    Q_INIT_RESOURCE(translations);
}

// tavio-flash: the upgrade without a window. Texts come from the English catalogue.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavio-flash"));
    ProgramFiles::chooseForThisProgram(); // --log still has the last word
    qInstallMessageHandler(customMessageHandler);
    TemporaryFolders().sweep(); // what a killed or crashed run left behind
    initCatalogues();
    CommandCatalogue english;
    if (english.load())
        QCoreApplication::installTranslator(&english);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    FlashEnvironment environment;
    environment.out = &out;
    environment.err = &err;
    environment.in = &in;
    environment.terminal = isTerminal(stdout);
    environment.interactive = isTerminal(stdin);
    const int exitCode = FlashCommand(environment).run(QCoreApplication::arguments());
    LogSystem::instance()->shutdown();
    return exitCode;
}
