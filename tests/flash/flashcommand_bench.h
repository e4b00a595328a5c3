#ifndef FLASHCOMMAND_BENCH_H
#define FLASHCOMMAND_BENCH_H

#include "devicesimulator.h"
#include "fixedportlister.h"
#include "flashcommand.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextStream>
#include <memory>

// A simulated device on a pty at a path of its own, named to the command
// with --port and --vid.
struct BenchDevice
{
    explicit BenchDevice(const DeviceIdentity &identity = DeviceIdentity()) : sim(identity) {}

    bool start()
    {
        if (!dir.isValid() || !sim.start(dir.filePath(QStringLiteral("device"))))
            return false;
        sim.setRebootDelay(200);
        return true;
    }
    QStringList portArguments() const
    {
        return {QStringLiteral("--port"), sim.linkPath(), QStringLiteral("--vid"),
                QString::number(sim.identity().vendorId)};
    }
    // Commands of the requests the device received, each once however often it was sent.
    QList<quint32> commands() const
    {
        QList<quint32> out;
        for (const SimFrameRecord &frame : sim.frames())
            if (frame.retry == 0)
                out.append(frame.command);
        return out;
    }

    QTemporaryDir dir;
    DeviceSimulator sim;
};

// One run of the command in this process, on a fast clock, with what it wrote.
struct CommandRun
{
    int exitCode = -1;
    QString out;
    QString err;

    // Standard output as JSON Lines; a line that is not a JSON object fails the parse.
    QList<QJsonObject> events(bool *parsed) const
    {
        QList<QJsonObject> list;
        *parsed = true;
        for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
            *parsed = *parsed && error.error == QJsonParseError::NoError && document.isObject();
            list.append(document.object());
        }
        return list;
    }
    static QList<QJsonObject> ofType(const QList<QJsonObject> &events, const QString &type,
                                     const QString &port = QString())
    {
        QList<QJsonObject> list;
        for (const QJsonObject &event : events)
            if (event.value(QStringLiteral("event")).toString() == type
                && (port.isEmpty() || event.value(QStringLiteral("port")).toString() == port))
                list.append(event);
        return list;
    }
};

inline CommandRun runCommand(const QStringList &arguments,
                             SharedPortLister systemPorts = std::make_shared<FixedPortLister>())
{
    CommandRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    FlashEnvironment environment;
    environment.systemPorts = std::move(systemPorts);
    environment.out = &out;
    environment.err = &err;
    run.exitCode = FlashCommand(environment).run(
        QStringList{QStringLiteral("tavio-flash")} + arguments
        + QStringList{QStringLiteral("--clock-factor"), QStringLiteral("100")});
    out.flush();
    err.flush();
    return run;
}

#endif // FLASHCOMMAND_BENCH_H
