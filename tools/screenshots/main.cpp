// tavio-screenshots OUTDIR
//
// Saves the main window at each step of an upgrade of a simulated device, in
// Chinese and then in English, as OUTDIR/<cn|en>-<n>-<step>.png. The window
// runs in a temporary folder, so its settings and log files go there; the
// folder is kept when a step fails.
#include "logsystem.h"
#include "screenshotsession.h"
#include "startup.h"

#include <QApplication>
#include <QTemporaryDir>
#include <cstdio>

namespace {
constexpr int Failed = 1;
constexpr int UsageError = 2;
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return UsageError;
    }
    const QDir outDir(QDir::current().absoluteFilePath(arguments.at(1)));
    QTemporaryDir workDir;
    if (!outDir.mkpath(QStringLiteral(".")) || !workDir.isValid()) {
        std::fprintf(stderr, "cannot create %s or a temporary folder\n", qPrintable(outDir.path()));
        return Failed;
    }
    QDir::setCurrent(workDir.path());

    qInstallMessageHandler(customMessageHandler);
    Startup::initResources();
    Startup::loadApplicationFont();
    bool ok = false;
    {
        ScreenshotSession session(outDir);
        ok = session.run();
    }
    LogSystem::instance()->shutdown();
    if (!ok) {
        workDir.setAutoRemove(false);
        std::fprintf(stderr, "the window's log: %s/log.txt\n", qPrintable(workDir.path()));
    }
    return ok ? 0 : Failed;
}
