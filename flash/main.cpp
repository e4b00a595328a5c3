#include "flashcommand.h"
#include "logsystem.h"

#include <QCoreApplication>
#include <QTextStream>
#include <QTranslator>
#include <cstdio>
#include <unistd.h>

static void initCatalogues()
{
    Q_INIT_RESOURCE(translations);
}

// tavio-flash: the upgrade without a window. Texts come from the English catalogue.
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavio-flash"));
    qInstallMessageHandler(customMessageHandler);
    initCatalogues();
    QTranslator english;
    if (english.load(QStringLiteral(":lang_en.qm")))
        QCoreApplication::installTranslator(&english);

    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    FlashEnvironment environment;
    environment.out = &out;
    environment.err = &err;
    environment.in = &in;
    environment.terminal = ::isatty(STDOUT_FILENO) == 1;
    environment.interactive = ::isatty(STDIN_FILENO) == 1;
    const int exitCode = FlashCommand(environment).run(QCoreApplication::arguments());
    LogSystem::instance()->shutdown();
    return exitCode;
}
