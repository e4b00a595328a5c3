#ifndef SIMOPTIONS_H
#define SIMOPTIONS_H

#include "linkmodel.h"
#include "simscript.h"
#include "simtypes.h"

#include <QCommandLineParser>
#include <QStringList>

// How the simulator executable was asked to run.
struct SimOptions
{
    DeviceIdentity identity;
    QString linkPath;
    int rebootDelayMs = SimScript::DefaultRebootDelayMs;
    SimScript::AfterUpgrade afterUpgrade = SimScript::AfterUpgrade::Stay;
    QByteArray packageFirmware;
    LinkModel linkModel;
    bool verbose = false;
};

// The executable's command line, checked in full before anything starts.
class SimCommandLine
{
public:
    enum class Outcome { Run, ShowHelp, Error };

    SimCommandLine();
    // `arguments` starts with the program name, as QCoreApplication::arguments().
    Outcome parse(const QStringList &arguments);

    const SimOptions &options() const { return m_options; }
    QString errorText() const { return m_error; }
    QString helpText() const { return m_parser.helpText(); }

private:
    // Each fills its part of the options, or says what is wrong.
    QString numberProblem();
    // Reads option `name` into *target when it is given; says what is wrong.
    QString numberOption(const QString &name, qint64 min, qint64 max, qint64 *target) const;
    QString textProblem();
    QString afterUpgradeProblem();
    QString linkModelProblem();
    Outcome fail(const QString &error);

    QCommandLineParser m_parser;
    SimOptions m_options;
    QString m_error;
};

namespace SimConsole {
// The facts printed at start, one "name: value" line each.
QStringList startupFacts(const SimOptions &options, const QString &slavePath);
// One line per received frame, for --verbose.
QString frameLine(const SimFrameRecord &frame);
} // namespace SimConsole

#endif // SIMOPTIONS_H
