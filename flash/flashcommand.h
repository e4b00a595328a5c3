#ifndef FLASHCOMMAND_H
#define FLASHCOMMAND_H

#include "devicejob.h"
#include "flashoptions.h"
#include "flashreporter.h"
#include "serialportlister.h"

#include <QList>
#include <QStringList>
#include <memory>

class Ledger;
class QTextStream;

// What the command runs against: the system's ports and its streams. Tests
// give a port list of their own and string streams. The devices' sessions
// looking at once share one listing of the system's ports.
struct FlashEnvironment
{
    SharedPortLister systemPorts = std::make_shared<RecentPortLister>(std::make_shared<SystemSerialPortLister>());
    QTextStream *out = nullptr;
    QTextStream *err = nullptr;
    QTextStream *in = nullptr; // the answers to "upgrade?" when interactive
    bool terminal = false;    // standard output is a terminal
    bool interactive = false; // standard input is a terminal: ask before upgrading each device
};

// tavio-flash: list, info and upgrade. Runs on the calling thread, which must
// have a QCoreApplication; returns the exit code.
class FlashCommand
{
public:
    explicit FlashCommand(FlashEnvironment environment);

    int run(const QStringList &arguments);

private:
    int list();
    int runSessions(DeviceJob::Job job);
    int runStation();
    FlashReporter::Style reportStyle() const;
    // The devices the options name, or the one recognised device attached.
    bool chooseDevices(QList<DeviceJob::Setup> *setups, int *exitCode);
    DeviceJob::Setup setupFor(const SerialPortDescription &port) const;
    // The file, folder or archive, and the ledger, before any device is touched.
    int prepareUpgrade();
    int checkSource();
    QList<SerialPortDescription> recognisedPorts() const;
    // Station mode: the ports it serves that are present now.
    QList<SerialPortDescription> servedPorts() const;
    // "y" or "yes" to the question, asked on the terminal from a device's thread.
    bool confirmed(const QString &question) const;
    // Exit 3, said on standard error, and with --json as a result event too.
    int noDevice();
    int fail(int exitCode, const QString &message);

    FlashEnvironment m_env;
    FlashOptions m_options;
    std::shared_ptr<Ledger> m_ledger;
    std::unique_ptr<FlashReporter> m_reporter;
};

#endif // FLASHCOMMAND_H
