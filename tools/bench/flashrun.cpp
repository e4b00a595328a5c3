#include "flashrun.h"

#include "benchsupport.h"
#include "flashcommand.h"

#include <QTextStream>

namespace Bench {

namespace {
class NoSystemPorts : public SerialPortLister
{
public:
    QList<SerialPortDescription> availablePorts() const override { return {}; }
};
} // namespace

FlashOutcome runFlashUpgrade(const QString &imagePath, const QString &portPath, quint16 vid, int clockFactor)
{
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    FlashEnvironment environment;
    environment.systemPorts = std::make_shared<NoSystemPorts>();
    environment.out = &outStream;
    environment.err = &errStream;
    const Clock::time_point start = Clock::now();
    const int exitCode = FlashCommand(environment).run(
        {QStringLiteral("tavio-flash"), QStringLiteral("upgrade"), imagePath, QStringLiteral("--port"), portPath,
         QStringLiteral("--vid"), QString::number(vid), QStringLiteral("--clock-factor"),
         QString::number(clockFactor)});
    FlashOutcome outcome;
    outcome.seconds = elapsedUs(start) / MicrosecondsPerSecond;
    outcome.succeeded = exitCode == 0;
    errStream.flush();
    outcome.errors = err.trimmed();
    return outcome;
}

} // namespace Bench
