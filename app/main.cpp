#include "logsystem.h"
#include "mainwindow.h"
#include "portoptions.h"
#include "startup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QTranslator>
#include <cstdio>

int main(int argc, char *argv[])
{
    auto *app = new QApplication(argc, argv);
    qInstallMessageHandler(customMessageHandler);
    Startup::initResources();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades the firmware of FPV video-link devices over their USB serial port."));
    parser.addHelpOption();
    PortOptions::addTo(parser);
    parser.process(*app);
    QString optionError;
    const SharedPortLister ports = PortOptions::listerFrom(parser, &optionError);
    if (!ports) {
        std::fprintf(stderr, "%s\n", qPrintable(optionError));
        return 2;
    }

    auto *settings = new QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat);
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
