// tavio-device-sim: a simulated device on a pseudo-terminal, for the demo and
// for trying the program by hand without hardware.

#include "devicesimulator.h"
#include "interruptwatcher.h"
#include "simoptions.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

namespace {
constexpr int ExitFailure = 1;
bool g_verbose = false;

// The program's libraries log through Qt; here that goes to stderr with
// --verbose and nowhere otherwise, and never into a log file.
void messageHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (g_verbose)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void printLine(const QString &line)
{
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

void printLines(const QStringList &lines)
{
    for (const QString &line : lines)
        printLine(line);
}
} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(messageHandler);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavio-device-sim"));

    SimCommandLine commandLine;
    switch (commandLine.parse(QCoreApplication::arguments())) {
    case SimCommandLine::Outcome::ShowHelp:
        printLine(commandLine.helpText());
        return 0;
    case SimCommandLine::Outcome::Error:
        std::fprintf(stderr, "%s\n", qPrintable(commandLine.errorText()));
        return ExitFailure;
    case SimCommandLine::Outcome::Run:
        break;
    }
    const SimOptions &options = commandLine.options();
    g_verbose = options.verbose;

    InterruptWatcher stopSignals(1); // a second signal ends it at once
    if (!stopSignals.isWatching()) {
        std::fprintf(stderr, "cannot watch for SIGINT and SIGTERM\n");
        return ExitFailure;
    }
    QObject::connect(&stopSignals, &InterruptWatcher::interrupted, &app, &QCoreApplication::quit);

    DeviceSimulator device(options.identity);
    device.setRebootDelay(options.rebootDelayMs);
    device.setAfterUpgrade(options.afterUpgrade);
    device.setPackageFirmware(options.packageFirmware);
    device.setLinkModel(options.linkModel);
    if (!device.start(options.linkPath)) {
        std::fprintf(stderr, "cannot start: %s\n", qPrintable(device.errorString()));
        return ExitFailure;
    }
    printLines(SimConsole::startupFacts(options, device.slavePath()));

    if (options.verbose) {
        QObject::connect(
            &device, &DeviceSimulator::frameReceived, &app,
            [](const SimFrameRecord &frame) { printLine(SimConsole::frameLine(frame)); });
        QObject::connect(&device, &DeviceSimulator::rebooting, &app, [](const QString &mode) {
            printLine(QStringLiteral("reboot: %1").arg(mode));
        });
        QObject::connect(&device, &DeviceSimulator::rebooted, &app, [](const QString &path) {
            printLine(QStringLiteral("pty: %1").arg(path));
        });
    }
    return app.exec();
}
