#include "logsystem.h"
#include "mainwindow.h"
#include "startup.h"

#include <QApplication>
#include <QSettings>

int main(int argc, char *argv[])
{
    auto *app = new QApplication(argc, argv);
    qInstallMessageHandler(customMessageHandler);
    Startup::initResources();

    auto *settings = new QSettings(QStringLiteral("setting.ini"), QSettings::IniFormat);
    Startup::installSavedLanguage(*settings);
    Startup::loadApplicationFont();

    auto *window = new MainWindow;
    window->show();
    const int result = app->exec();

    delete window;
    delete settings;
    delete app;
    LogSystem::instance()->shutdown();
    return result;
}
