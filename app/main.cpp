#include "logsystem.h"
#include "mainwindow.h"
#include "portoptions.h"
#include "programfiles.h"
#include "startup.h"
#include "temporaryfolders.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QTranslator>
#include <cstdio>

int main(int argc, char *argv[])
{
    Startup::answerHelpOrVersion(argc, argv);
    auto *app = new QApplication(argc, argv);
    // Window managers and docks match the window to its desktop entry by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral(TAVIO_APP_ID));
    ProgramFiles::chooseForThisProgram();
    qInstallMessageHandler(customMessageHandler);
    TemporaryFolders().sweep(); // what a killed or crashed run left behind
    Startup::initResources();

    QCommandLineParser parser;
    Startup::describeOptions(parser);
    parser.process(*app);
    QString optionError;
    const SharedPortLister ports = PortOptions::listerFrom(parser, &optionError);
    if (!ports) {
        std::fprintf(stderr, "%s\n", qPrintable(optionError));
        return 2;
    }

    auto *settings = new QSettings(ProgramFiles::settingsPath(), QSettings::IniFormat);
    QTranslator *startupTranslator = Startup::installSavedLanguage(*settings);
    Startup::loadApplicationFont();

    auto *window = new MainWindow(ports);
    window->adoptStartupTranslator(startupTranslator);
    window->show();
    const int result = app->exec();

    delete window;
    delete settings;
    delete app;
    LogSystem::instance()->shutdown();
    return result;
}
