#include "simoptions.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace {
const QString LinkOption = QStringLiteral("link");
const QString VidOption = QStringLiteral("vid");
const QString ManufacturerOption = QStringLiteral("manufacturer");
const QString FirmwareOption = QStringLiteral("firmware");
const QString SerialOption = QStringLiteral("serial");
const QString HardwareOption = QStringLiteral("hardware");
const QString MaxSizeOption = QStringLiteral("max-size");
const QString TempOption = QStringLiteral("temp");
const QString RebootDelayOption = QStringLiteral("reboot-delay");
const QString VerboseOption = QStringLiteral("verbose");
const QString AfterUpgradeOption = QStringLiteral("after-upgrade");
const QString PackageFirmwareOption = QStringLiteral("package-firmware");
const QString LinkModelOption = QStringLiteral("link-model");
const QString LinkLatencyOption = QStringLiteral("link-latency-us");
const QString LinkBandwidthOption = QStringLiteral("link-bandwidth");

struct LinkModelWord
{
    LinkModel (*model)();
    const char *word;
};
const LinkModelWord LinkModelWords[] = {
    {&LinkModel::none, "none"},
    {&LinkModel::fullSpeed, "full-speed"},
    {&LinkModel::highSpeed, "high-speed"},
};

// --after-upgrade's word for each SimScript::AfterUpgrade, paired explicitly
// so that reordering the enumeration cannot swap their meanings.
struct AfterUpgradeWord
{
    SimScript::AfterUpgrade after;
    const char *word;
};
const AfterUpgradeWord AfterUpgradeWords[] = {
    {SimScript::AfterUpgrade::Stay, "stay"},
    {SimScript::AfterUpgrade::RestartWithNewFirmware, "new"},
    {SimScript::AfterUpgrade::RestartWithOldFirmware, "old"},
};

QString afterUpgradeWord(SimScript::AfterUpgrade after)
{
    for (const AfterUpgradeWord &entry : AfterUpgradeWords)
        if (entry.after == after)
            return QLatin1String(entry.word);
    return QString();
}

constexpr int Decimal = 10;
constexpr int Hexadecimal = 16;

// Decimal, or hexadecimal after 0x; never octal, so "010" stays ten.
bool parseNumber(QString text, qint64 min, qint64 max, qint64 *value)
{
    int base = Decimal;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        text = text.mid(2);
        base = Hexadecimal;
    }
    bool ok = false;
    *value = text.toLongLong(&ok, base);
    return ok && *value >= min && *value <= max;
}

template <size_t N>
constexpr int textCapacity(const char (&)[N])
{
    return int(N) - 1;
}
} // namespace

SimCommandLine::SimCommandLine()
{
    const DeviceIdentity defaults;
    m_parser.setApplicationDescription(QStringLiteral(
        "Simulated video-link device on a pseudo-terminal. Runs until SIGINT or SIGTERM."));
    m_parser.addHelpOption();
    m_parser.addOptions({
        {LinkOption, QStringLiteral("Keep a symbolic link at <path> to the current pty."),
         QStringLiteral("path")},
        {VidOption,
         QStringLiteral("USB vendor id, decimal or 0x hex (default %1).").arg(defaults.vendorId),
         QStringLiteral("n")},
        {ManufacturerOption, QStringLiteral("USB manufacturer text."), QStringLiteral("text")},
        {FirmwareOption,
         QStringLiteral("Firmware version (default %1).")
             .arg(QString::fromLatin1(defaults.firmware)),
         QStringLiteral("text")},
        {SerialOption,
         QStringLiteral("Serial number (default %1).")
             .arg(QString::fromLatin1(defaults.serialNumber)),
         QStringLiteral("text")},
        {HardwareOption,
         QStringLiteral("Hardware version (default %1).")
             .arg(QString::fromLatin1(defaults.hardwareVersion)),
         QStringLiteral("text")},
        {MaxSizeOption,
         QStringLiteral("Largest data segment the device takes (default %1).")
             .arg(defaults.receiveMaxSize),
         QStringLiteral("n")},
        {TempOption, QStringLiteral("CPU temperature reported (default %1).").arg(defaults.cpuTemp),
         QStringLiteral("n")},
        {RebootDelayOption,
         QStringLiteral("Time the device stays away on reboot (default %1).")
             .arg(SimScript::DefaultRebootDelayMs),
         QStringLiteral("ms")},
        {AfterUpgradeOption,
         QStringLiteral("After reporting a single image's upgrade done: stay (default), or restart "
                        "with the new firmware the file's name announced, or with the old one."),
         QStringLiteral("stay|new|old")},
        {PackageFirmwareOption,
         QStringLiteral("Firmware a package brings (its parts announce none): with --after-upgrade new, "
                        "reported after the package's restart (default: the firmware stays)."),
         QStringLiteral("text")},
        {LinkModelOption,
         QStringLiteral("The USB link's delays each way: none (default, the bare pty), full-speed "
                        "(1 ms round trip, 1 MB/s) or high-speed (0.25 ms, 30 MB/s)."),
         QStringLiteral("none|full-speed|high-speed")},
        {LinkLatencyOption, QStringLiteral("The link's one-way latency, in place of the model's."),
         QStringLiteral("us")},
        {LinkBandwidthOption, QStringLiteral("The link's rate each way, in place of the model's (0: no limit)."),
         QStringLiteral("bytes-per-second")},
        {VerboseOption, QStringLiteral("Print every received frame and every reboot.")},
    });
}

SimCommandLine::Outcome SimCommandLine::parse(const QStringList &arguments)
{
    m_options = SimOptions();
    m_error.clear();
    if (!m_parser.parse(arguments))
        return fail(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help")) || m_parser.isSet(QStringLiteral("help-all")))
        return Outcome::ShowHelp;
    if (!m_parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("Unexpected argument: %1").arg(m_parser.positionalArguments().first()));
    if (const QString problem = numberProblem(); !problem.isEmpty())
        return fail(problem);
    if (const QString problem = textProblem(); !problem.isEmpty())
        return fail(problem);
    if (const QString problem = afterUpgradeProblem(); !problem.isEmpty())
        return fail(problem);
    if (const QString problem = linkModelProblem(); !problem.isEmpty())
        return fail(problem);
    return Outcome::Run;
}

SimCommandLine::Outcome SimCommandLine::fail(const QString &error)
{
    m_error = error;
    return Outcome::Error;
}

QString SimCommandLine::numberOption(const QString &name, qint64 min, qint64 max, qint64 *target) const
{
    const QString text = m_parser.value(name);
    if (!m_parser.isSet(name) || parseNumber(text, min, max, target))
        return QString();
    return QStringLiteral("Invalid --%1: %2 (expected %3 to %4)").arg(name, text).arg(min).arg(max);
}

QString SimCommandLine::numberProblem()
{
    struct NumberOption
    {
        const QString &name;
        qint64 min;
        qint64 max;
        qint64 *target;
    };
    qint64 vid = m_options.identity.vendorId;
    qint64 maxSize = m_options.identity.receiveMaxSize;
    qint64 temp = m_options.identity.cpuTemp;
    qint64 rebootDelay = m_options.rebootDelayMs;
    constexpr qint64 IntMax = std::numeric_limits<int>::max();
    const NumberOption numbers[] = {
        {VidOption, 0, std::numeric_limits<quint16>::max(), &vid},
        {MaxSizeOption, 1, IntMax, &maxSize},
        {TempOption, std::numeric_limits<int>::min(), IntMax, &temp},
        {RebootDelayOption, 0, IntMax, &rebootDelay},
    };
    for (const NumberOption &option : numbers)
        if (const QString problem = numberOption(option.name, option.min, option.max, option.target);
            !problem.isEmpty())
            return problem;
    m_options.identity.vendorId = quint16(vid);
    m_options.identity.receiveMaxSize = int(maxSize);
    m_options.identity.cpuTemp = int(temp);
    m_options.rebootDelayMs = int(rebootDelay);
    return QString();
}

QString SimCommandLine::textProblem()
{
    struct TextOption
    {
        const QString &name;
        int capacity;
        QByteArray *target;
    };
    const ar_device_info info{};
    const TextOption texts[] = {
        {FirmwareOption, textCapacity(info.firmwareInfo), &m_options.identity.firmware},
        {SerialOption, textCapacity(info.serialNumber), &m_options.identity.serialNumber},
        {HardwareOption, textCapacity(info.hardwareVersion), &m_options.identity.hardwareVersion},
        {PackageFirmwareOption, textCapacity(info.firmwareInfo), &m_options.packageFirmware},
    };
    for (const TextOption &option : texts) {
        if (!m_parser.isSet(option.name))
            continue;
        const QByteArray text = m_parser.value(option.name).toUtf8();
        if (text.size() > option.capacity)
            return QStringLiteral("--%1 takes at most %2 bytes")
                .arg(option.name)
                .arg(option.capacity);
        *option.target = text;
    }
    m_options.identity.manufacturer = m_parser.value(ManufacturerOption);
    m_options.linkPath = m_parser.value(LinkOption);
    m_options.verbose = m_parser.isSet(VerboseOption);
    return QString();
}

QString SimCommandLine::afterUpgradeProblem()
{
    if (!m_parser.isSet(AfterUpgradeOption))
        return QString();
    const QString value = m_parser.value(AfterUpgradeOption);
    QStringList words;
    for (const AfterUpgradeWord &entry : AfterUpgradeWords) {
        if (value == QLatin1String(entry.word)) {
            m_options.afterUpgrade = entry.after;
            return QString();
        }
        words << QLatin1String(entry.word);
    }
    return QStringLiteral("Invalid --%1: %2 (expected %3)")
        .arg(AfterUpgradeOption, value, words.join(QLatin1Char('|')));
}

QString SimCommandLine::linkModelProblem()
{
    if (m_parser.isSet(LinkModelOption)) {
        const QString value = m_parser.value(LinkModelOption);
        const auto entry = std::find_if(std::begin(LinkModelWords), std::end(LinkModelWords),
                                        [&](const LinkModelWord &e) { return value == QLatin1String(e.word); });
        if (entry == std::end(LinkModelWords)) {
            QStringList words;
            for (const LinkModelWord &e : LinkModelWords)
                words << QLatin1String(e.word);
            return QStringLiteral("Invalid --%1: %2 (expected %3)")
                .arg(LinkModelOption, value, words.join(QLatin1Char('|')));
        }
        m_options.linkModel = entry->model();
    }
    // A second at most: anything longer is no USB link.
    constexpr qint64 MaxLatencyUs = 1000000;
    qint64 latency = m_options.linkModel.oneWayLatencyUs;
    const QString problem = numberOption(LinkLatencyOption, 0, MaxLatencyUs, &latency);
    if (!problem.isEmpty())
        return problem;
    m_options.linkModel.oneWayLatencyUs = int(latency);
    return numberOption(LinkBandwidthOption, 0, std::numeric_limits<qint64>::max(),
                        &m_options.linkModel.bytesPerSecond);
}

namespace SimConsole {

QStringList startupFacts(const SimOptions &options, const QString &slavePath)
{
    const DeviceIdentity &id = options.identity;
    QStringList facts{QStringLiteral("pty: %1").arg(slavePath)};
    if (!options.linkPath.isEmpty())
        facts << QStringLiteral("link: %1").arg(options.linkPath);
    facts << QStringLiteral("vid: %1").arg(id.vendorId)
          << QStringLiteral("manufacturer: %1").arg(id.manufacturer)
          << QStringLiteral("firmware: %1").arg(QString::fromUtf8(id.firmware))
          << QStringLiteral("serial: %1").arg(QString::fromUtf8(id.serialNumber))
          << QStringLiteral("hardware: %1").arg(QString::fromUtf8(id.hardwareVersion))
          << QStringLiteral("max-size: %1").arg(id.receiveMaxSize)
          << QStringLiteral("temp: %1").arg(id.cpuTemp)
          << QStringLiteral("reboot-delay: %1").arg(options.rebootDelayMs)
          << QStringLiteral("after-upgrade: %1").arg(afterUpgradeWord(options.afterUpgrade));
    if (!options.packageFirmware.isEmpty())
        facts << QStringLiteral("package-firmware: %1").arg(QString::fromUtf8(options.packageFirmware));
    const LinkModel &model = options.linkModel;
    facts << (model.isNone() ? QStringLiteral("link-model: none")
                             : QStringLiteral("link-model: %1 us one way, %2 B/s")
                                   .arg(model.oneWayLatencyUs)
                                   .arg(model.bytesPerSecond));
    return facts;
}

QString frameLine(const SimFrameRecord &frame)
{
    return QStringLiteral("frame: command %1 seq %2 retry %3 length %4 crc %5")
        .arg(frame.command)
        .arg(frame.seq)
        .arg(frame.retry)
        .arg(frame.length)
        .arg(frame.crcValid ? QStringLiteral("ok") : QStringLiteral("bad"));
}

} // namespace SimConsole
