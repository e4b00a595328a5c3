#include "flashcommand.h"

#include "devicenaming.h"
#include "deviceconfig.h"
#include "firmwarechoicetext.h"
#include "firmwarerules.h"
#include "firmwareshelf.h"
#include "flashevents.h"
#include "flashexit.h"
#include "flashreporter.h"
#include "imageplan.h"
#include "interruptwatcher.h"
#include "ledger.h"
#include "logsystem.h"
#include "portfinder.h"
#include "station.h"
#include "upgradeclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <algorithm>

FlashCommand::FlashCommand(FlashEnvironment environment)
    : m_env(std::move(environment))
{
}

int FlashCommand::run(const QStringList &arguments)
{
    QString error;
    if (!FlashOptions::parse(arguments, *m_env.systemPorts, &m_options, &error))
        return fail(FlashExit::Usage, error + QStringLiteral("\n(tavio-flash --help lists the options)"));
    switch (m_options.command) {
    case FlashOptions::Command::Help:
        *m_env.out << FlashOptions::helpText() << Qt::flush;
        return FlashExit::Success;
    case FlashOptions::Command::Version:
        *m_env.out << "tavio-flash " << TAVIO_VERSION << '\n' << Qt::flush;
        return FlashExit::Success;
    default:
        break;
    }
    if (!m_options.logPath.isEmpty())
        LogSystem::instance()->setFilePath(m_options.logPath);
    m_reporter = std::make_unique<FlashReporter>(*m_env.out, *m_env.err, reportStyle());
    m_reporter->setExplainsChoices(m_options.dryRun);
    if (m_options.command == FlashOptions::Command::List)
        return list();
    if (m_options.command == FlashOptions::Command::Info)
        return runSessions(DeviceJob::Job::Identify);

    const int prepared = prepareUpgrade();
    if (prepared != FlashExit::Success)
        return prepared;
    return m_options.watch ? runStation() : runSessions(DeviceJob::Job::Upgrade);
}

int FlashCommand::prepareUpgrade()
{
    const int checked = checkSource();
    if (checked != FlashExit::Success || m_options.ledgerPath.isEmpty())
        return checked;
    m_ledger = std::make_shared<Ledger>();
    QString error;
    return m_ledger->open(m_options.ledgerPath, &error) ? FlashExit::Success : fail(FlashExit::Usage, error);
}

// A file given alone is judged by name and type, a folder must be readable and
// a zip archive usable, before any device is touched.
int FlashCommand::checkSource()
{
    const auto refused = [this](FirmwareRules::FileVerdict verdict) {
        return fail(FlashExit::FileRefused,
                    QCoreApplication::translate("UpgradePage", FirmwareRules::refusalText(verdict)));
    };
    FirmwareShelf shelf(m_options.file);
    if (shelf.kind() != FirmwareShelf::Kind::File && QFileInfo::exists(m_options.file))
        return shelf.open() ? FlashExit::Success : fail(FlashExit::FileRefused, FirmwareChoiceText::unusable(shelf));
    if (!FirmwareRules::isPackageNameValid(ImagePlan::fileNameOf(m_options.file)))
        return refused(FirmwareRules::FileVerdict::BadName);
    // Judged before it is opened: opening a named pipe would block.
    const FirmwareRules::FileVerdict type = FirmwareRules::judgeFileType(m_options.file);
    if (type != FirmwareRules::FileVerdict::Accepted)
        return refused(type);
    QFile file(m_options.file);
    if (!file.open(QIODevice::ReadOnly))
        return fail(FlashExit::FileRefused,
                    QStringLiteral("cannot read %1: %2").arg(m_options.file, file.errorString()));
    return FlashExit::Success;
}

// A port the user named is listed for its link with the identity given; the
// system's ports are the rest.
DeviceJob::Setup FlashCommand::setupFor(const SerialPortDescription &port) const
{
    DeviceJob::Setup setup;
    setup.port = port;
    setup.ports = m_options.ports.isEmpty() ? m_env.systemPorts
                                            : std::make_shared<ExtraPortLister>(m_env.systemPorts, port);
    setup.clockFactor = m_options.clockFactor;
    setup.verify = m_options.verify;
    setup.timeLimitMs = m_options.timeoutSeconds * 1000;
    setup.ledger = m_ledger;
    setup.dryRun = m_options.dryRun;
    setup.reflash = m_options.reflash;
    if (m_env.interactive && !m_options.yes)
        setup.confirm = [this](const QString &question) { return confirmed(question); };
    return setup;
}

// The named ports present (a look at each one's device file: a station
// waiting on its ports lists none of the system's), or else the recognised
// ports attached.
QList<SerialPortDescription> FlashCommand::servedPorts() const
{
    if (m_options.ports.isEmpty())
        return recognisedPorts();
    QList<SerialPortDescription> present;
    for (const SerialPortDescription &port : qAsConst(m_options.ports)) {
        if (m_env.systemPorts->isPresent(port.portName))
            present.append(port);
    }
    return present;
}

QList<SerialPortDescription> FlashCommand::recognisedPorts() const
{
    QList<SerialPortDescription> ports;
    for (const SerialPortDescription &port : m_env.systemPorts->availablePorts()) {
        if (PortFinder::isRecognisedPort(port))
            ports.append(port);
    }
    return ports;
}

int FlashCommand::list()
{
    QList<SerialPortDescription> ports = recognisedPorts();
    for (const SerialPortDescription &named : qAsConst(m_options.ports)) {
        const auto listed = [&named](const SerialPortDescription &port) {
            return isSamePort(port.portName, named.portName);
        };
        if (PortFinder::isRecognisedPort(named) && !ExtraPortLister(nullptr, named).availablePorts().isEmpty()
            && std::none_of(ports.cbegin(), ports.cend(), listed))
            ports.append(named);
    }
    const DeviceConfig config;
    for (const SerialPortDescription &port : qAsConst(ports)) {
        const QString name = DeviceNaming::shownName(port.vendorIdentifier, config);
        if (m_options.json) {
            const QJsonObject device{{QStringLiteral("event"), QStringLiteral("device")},
                                     {QStringLiteral("port"), port.portName},
                                     {QStringLiteral("vid"), port.vendorIdentifier},
                                     {QStringLiteral("name"), name}};
            *m_env.out << QJsonDocument(device).toJson(QJsonDocument::Compact) << '\n';
        } else {
            *m_env.out << port.portName << '\t' << port.vendorIdentifier << '\t' << name << '\n';
        }
    }
    m_env.out->flush();
    return ports.isEmpty() ? noDevice() : FlashExit::Success;
}

bool FlashCommand::chooseDevices(QList<DeviceJob::Setup> *setups, int *exitCode)
{
    for (const SerialPortDescription &port : qAsConst(m_options.ports))
        setups->append(setupFor(port));
    if (!setups->isEmpty())
        return true;
    // Taken once: a device attached later is not touched.
    const QList<SerialPortDescription> attached = recognisedPorts();
    if (attached.size() == 1 || (m_options.all && !attached.isEmpty())) {
        for (const SerialPortDescription &port : attached)
            setups->append(setupFor(port));
        return true;
    }
    *exitCode = attached.isEmpty()
            ? noDevice()
            : fail(FlashExit::Usage, QStringLiteral("%1 devices are attached: name each with --port")
                                         .arg(attached.size()));
    return false;
}

// On a device's thread: the question waits its turn on the main thread, which
// writes the streams, so questions of devices identified at once come one by one.
bool FlashCommand::confirmed(const QString &question) const
{
    QString answer;
    QMetaObject::invokeMethod(
        m_reporter.get(), [this, &question, &answer] { answer = m_reporter->ask(question + " [y/N] ", m_env.in); },
        Qt::BlockingQueuedConnection);
    return answer.compare(QLatin1String("y"), Qt::CaseInsensitive) == 0
            || answer.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0;
}

int FlashCommand::runSessions(DeviceJob::Job job)
{
    QList<DeviceJob::Setup> setups;
    int exitCode = FlashExit::Success;
    if (!chooseDevices(&setups, &exitCode))
        return exitCode;

    FlashReporter &reporter = *m_reporter;
    std::vector<std::unique_ptr<DeviceJob>> sessions;
    QEventLoop loop;
    int running = setups.size();
    for (const DeviceJob::Setup &setup : qAsConst(setups)) {
        sessions.emplace_back(new DeviceJob(setup, job, m_options.file));
        QObject::connect(sessions.back().get(), &DeviceJob::event, &reporter, &FlashReporter::report);
        QObject::connect(sessions.back().get(), &DeviceJob::finished, &loop, [&loop, &running] {
            if (--running == 0)
                loop.quit();
        });
    }
    // Ctrl-C or SIGTERM cancels the upgrades through their workers, which
    // clean up after themselves; another one ends the command at once.
    std::unique_ptr<InterruptWatcher> interrupts;
    if (job == DeviceJob::Job::Upgrade) {
        interrupts = std::make_unique<InterruptWatcher>(1);
        QObject::connect(interrupts.get(), &InterruptWatcher::interrupted, &loop, [&reporter, &sessions] {
            reporter.tell(
                QStringLiteral("Interrupted: the upgrade is cancelled (once more: the command ends at once)"));
            for (const auto &session : sessions)
                session->cancel();
        });
    }
    for (const auto &session : sessions)
        session->start();
    loop.exec();

    QMap<QString, QString> ends;
    for (const auto &session : sessions) {
        ends.insert(session->portName(), FlashReporter::endOf(session->exitCode(), session->wasUpToDate()));
        exitCode = qMax(exitCode, session->exitCode());
    }
    if (job == DeviceJob::Job::Upgrade && !m_options.dryRun) // a dry run upgrades none
        reporter.summarise(ends);
    return exitCode;
}

FlashReporter::Style FlashCommand::reportStyle() const
{
    if (m_options.json)
        return FlashReporter::Style::Json;
    return m_env.terminal ? FlashReporter::Style::Terminal : FlashReporter::Style::Plain;
}

// Until Ctrl-C (or a test's interrupt), then a summary.
int FlashCommand::runStation()
{
    InterruptWatcher interrupts(Station::ToldInterrupts);
    if (!interrupts.isWatching())
        return fail(FlashExit::Usage, QStringLiteral("cannot watch for Ctrl-C"));
    FlashReporter &reporter = *m_reporter;
    const auto makeSession = [this, &reporter](const SerialPortDescription &port, Station::Claim claim) {
        DeviceJob::Setup setup = setupFor(port);
        setup.claim = std::move(claim);
        auto session = std::make_unique<DeviceJob>(setup, DeviceJob::Job::Upgrade, m_options.file);
        QObject::connect(session.get(), &DeviceJob::event, &reporter, &FlashReporter::report);
        return session;
    };
    const int pollMs = DeviceJob::clockFor(m_options.clockFactor)->realMs(Station::PortPollMs);
    Station station([this] { return servedPorts(); }, makeSession, pollMs);
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &station, &Station::interrupt);
    QObject::connect(&station, &Station::aboutToPoll, &interrupts, &InterruptWatcher::drain);
    if (!m_options.json)
        *m_env.err << "Waiting for devices; Ctrl-C stops (twice: cancels the running upgrades)\n" << Qt::flush;
    const int exitCode = station.run();
    const Station::Counts counts = station.counts();
    reporter.summariseStation(counts.upgraded, counts.upToDate, counts.failed, counts.skipped, counts.dryRun);
    return exitCode;
}

// A reader of the JSON output sees the end of the run as it sees a device's.
int FlashCommand::noDevice()
{
    const QString text = QStringLiteral("no device found");
    if (m_options.json)
        *m_env.out << QJsonDocument(FlashEvents::result({}, FlashExit::NoDevice, text)).toJson(QJsonDocument::Compact)
                   << '\n' << Qt::flush;
    return fail(FlashExit::NoDevice, text);
}

int FlashCommand::fail(int exitCode, const QString &message)
{
    *m_env.err << message << '\n' << Qt::flush;
    return exitCode;
}
