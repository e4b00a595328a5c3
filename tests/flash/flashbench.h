#ifndef FLASHBENCH_H
#define FLASHBENCH_H

#include "commandcatalogue.h"
#include "fixedportlister.h"
#include "flashcommand.h"
#include "logcapture.h"
#include "simulateddevice.h"
#include "testbytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

inline void initFlashCatalogues() { Q_INIT_RESOURCE(translations); }

namespace FlashBench {
const QString Image = QStringLiteral("Merlow_R_Sky_1_0_6.img"); // newer than the simulator's 1_0_5
using TestBytes::pattern;

// A text, and one of the English catalogue's: none of the Chinese source texts' characters.
inline bool isEnglish(const QString &text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return !text.isEmpty() && !text.contains(cjk);
}
inline QString string(const QJsonObject &event, const char *key) { return event.value(QLatin1String(key)).toString(); }
inline int number(const QJsonObject &event, const char *key) { return event.value(QLatin1String(key)).toInt(); }
inline DeviceIdentity withSerial(const QByteArray &serial)
{
    DeviceIdentity identity;
    identity.serialNumber = serial;
    return identity;
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
        m_log.reset(new LogCapture); // after the test's own handler, which it replaces
        initFlashCatalogues();
        if (!m_english.load() || !m_files.isValid())
            return false;
        QCoreApplication::installTranslator(&m_english);
        return QDir::setCurrent(m_files.path());
    }
    QString path(const QString &name) const { return m_files.filePath(name); }
    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        return TestBytes::writeFile(path(name), bytes) ? path(name) : QString();
    }

private:
    std::unique_ptr<LogCapture> m_log;
    QTemporaryDir m_files;
    CommandCatalogue m_english;
};

// A simulated device on a pty at a path of its own, named to the command
// with --port and --vid.
struct BenchDevice : SimulatedDevice
{
    using SimulatedDevice::SimulatedDevice;
    bool start()
    {
        sim.setRebootDelay(200);
        return SimulatedDevice::start();
    }
};

// The system's ports as the test plugs devices in: an attached device's port
// is listed while it exists. Counts the looks from the main thread (a
// station's; the links look from theirs).
class BenchPorts : public SerialPortLister
{
public:
    QList<SerialPortDescription> availablePorts() const override
    {
        if (countMainLook())
            ++m_mainListings;
        QMutexLocker lock(&m_mutex);
        QList<SerialPortDescription> ports;
        for (const SerialPortDescription &port : m_attached)
            if (QFileInfo::exists(port.portName))
                ports.append(port);
        return ports;
    }
    void attach(const BenchDevice &device, bool attached = true)
    {
        QMutexLocker lock(&m_mutex);
        m_attached.remove(device.sim.linkPath());
        if (attached)
            m_attached.insert(device.sim.linkPath(), device.port());
    }
    bool isPresent(const QString &portName) const override
    {
        countMainLook();
        return SerialPortLister::isPresent(portName);
    }
    // The station's looks at the ports, and those that listed them all.
    int mainLooks() const { return m_mainLooks.load(); }
    int mainListings() const { return m_mainListings.load(); }

private:
    bool countMainLook() const
    {
        const bool main = QThread::currentThread() == QCoreApplication::instance()->thread();
        m_mainLooks += main ? 1 : 0;
        return main;
    }

    mutable QMutex m_mutex;
    QMap<QString, SerialPortDescription> m_attached;
    mutable std::atomic<int> m_mainLooks{0};
    mutable std::atomic<int> m_mainListings{0};
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

// `answers`: the lines typed on a terminal at standard input; none: standard input is not a terminal.
inline CommandRun runCommand(const QStringList &arguments,
                             SharedPortLister systemPorts = std::make_shared<FixedPortLister>(),
                             std::optional<QString> answers = std::nullopt)
{
    CommandRun run;
    QString typed = answers.value_or(QString());
    QTextStream out(&run.out), err(&run.err), in(&typed);
    FlashEnvironment environment{std::move(systemPorts), &out, &err, &in, false, answers.has_value()};
    run.exitCode = FlashCommand(environment).run(QStringList{QStringLiteral("tavio-flash")} + arguments
                                                 + QStringList{"--clock-factor", "100"});
    out.flush();
    err.flush();
    return run;
}

#endif // FLASHBENCH_H
