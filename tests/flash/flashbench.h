#ifndef FLASHBENCH_H
#define FLASHBENCH_H

#include "devicesimulator.h"
#include "fixedportlister.h"
#include "flashcommand.h"
#include "logcapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTranslator>
#include <memory>

inline void initFlashCatalogues()
{
    Q_INIT_RESOURCE(translations);
}

namespace FlashBench {
const QString Image = QStringLiteral("Merlow_R_Sky_1_0_6.img"); // newer than the simulator's 1_0_5

inline QByteArray pattern(int size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(seed + i * 131);
    return bytes;
}

inline bool hasChinese(const QString &text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return text.contains(cjk);
}

inline QString string(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toString();
}

inline int number(const QJsonObject &event, const char *key)
{
    return event.value(QLatin1String(key)).toInt();
}
} // namespace FlashBench

// What every suite of the command sets up: the English catalogue, a folder
// of files as the working directory (no settings file of the user's names a
// device), and the program's log lines kept out of the test's output.
class FlashWorld
{
public:
    bool setUp()
    {
        m_log.reset(new LogCapture);
        initFlashCatalogues();
        if (!m_english.load(QStringLiteral(":lang_en.qm")) || !m_files.isValid())
            return false;
        QCoreApplication::installTranslator(&m_english);
        return QDir::setCurrent(m_files.path());
    }
    QString path(const QString &name) const { return m_files.filePath(name); }
    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString filePath = path(name);
        QFile file(filePath);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? filePath : QString();
    }

private:
    QTemporaryDir m_files;
    QTranslator m_english;
    std::unique_ptr<LogCapture> m_log;
};

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

#endif // FLASHBENCH_H
