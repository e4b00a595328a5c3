#include "flashoptions.h"

#include "portoptions.h"

#include <QCommandLineParser>

namespace {
constexpr int MaxTimeoutSeconds = 24 * 3600; // a day: a bench never means more

const char Commands[] =
    "Commands:\n"
    "  list                 the attached devices the program recognises: port, vendor identifier, name\n"
    "  info                 connects and prints each device's identity\n"
    "  upgrade PATH         PATH is an image (or package), or a folder or zip archive of them.\n"
    "                       An image is checked by the window's name and version rules (a\n"
    "                       refused file sends nothing). From a folder (with its sub-folders)\n"
    "                       or a zip, each device gets its own file: the newest whose name\n"
    "                       passes the rules for it and whose kind fits its line (a multi-image\n"
    "                       package for the multi-image line, a single image for the others).\n"
    "                       Two different files of that version, or none that fits, refuse\n"
    "                       the device; a device already on that version gets nothing and\n"
    "                       ends as up-to-date (exit 0) unless --reflash. Then the\n"
    "                       single-image or package sequence the device's vendor identifier\n"
    "                       calls for runs, on every device at once\n"
    "\n"
    "A zip archive is refused whole when an entry's name leads out of its folder, an entry\n"
    "is a link or encrypted, or one declares or expands beyond 256 MiB; only the chosen\n"
    "file is extracted, into a temporary folder removed when its upgrade ends.\n"
    "\n"
    "Without --port, the one recognised device attached is used. --port may be given several\n"
    "times, each with its --vid (or one --vid for all; without --vid, the USB identity the\n"
    "system lists for the port); a relative PATH is taken from the working directory. --all\n"
    "takes every recognised device attached at the start. --watch waits for devices and\n"
    "upgrades each newly attached one once; with --port, each device that appears on the\n"
    "named port, one after another, even one without its USB identity (Ctrl-C: running\n"
    "upgrades finish; a second Ctrl-C cancels them). Without --watch, Ctrl-C or SIGTERM\n"
    "cancels the upgrade (exit 5); one more signal ends the command at once.\n"
    "\n"
    "On a terminal, without --yes, upgrade asks once each device is identified and the file\n"
    "accepted for it, one device at a time:\n"
    "    Upgrade ttyACM0 SN0001: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6? [y/N]\n"
    "Any answer but y or yes leaves that device as it is (cancelled, exit 5). When standard\n"
    "input is not a terminal, nothing is asked.\n"
    "\n"
    "Each device's upgrade ends with one line (on standard error when it failed):\n"
    "    ttyACM0 SN0001: Merlow_R_Sky_1_0_5 → Merlow_R_Sky_1_0_6, verified, 14.2 s\n"
    "its outcome (upgraded; with --verify, verified or not verified: REASON; failed: REASON;\n"
    "cancelled) and the seconds its upgrade took. With --json it is the result's \"summary\".\n"
    "\n"
    "With no device (and no --watch), list, info and upgrade say \"no device found\" on standard\n"
    "error and exit 3; with --json, standard output also carries a result event with that text\n"
    "and exit code.\n"
    "\n"
    "Exit codes (several devices: the highest of any device):\n"
    "  0  every device upgraded or up to date (--dry-run: each has a file to get)\n"
    "  1  usage error, or a --ledger that cannot be written (nothing sent)\n"
    "  2  the file was refused by the rules or cannot be read, nothing in the folder or zip\n"
    "     fits the device or two files of its newest version differ, or the zip is unusable\n"
    "     (nothing sent)\n"
    "  3  no device found, or its port cannot be opened\n"
    "  4  the device refused the file or reported a numbered failure, or the file changed\n"
    "     during the upgrade (no end of file sent: the device was not flashed with it)\n"
    "  5  the link failed (no acknowledgement, the device vanished or never came back),\n"
    "     the upgrade was cancelled, or it ran out of its --timeout\n"
    "  6  verification failed: the restarted device reports another firmware, or none\n";

void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help.")});
    parser.addOption({{QStringLiteral("V"), QStringLiteral("version")},
                      QStringLiteral("Shows the program's version.")});
    parser.addOption({QStringLiteral("json"), QStringLiteral("Events as JSON Lines on standard output.")});
    parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")},
                      QStringLiteral("Upgrades each device without asking on a terminal.")});
    parser.addOption({QStringLiteral("all"), QStringLiteral("Upgrades every recognised device attached.")});
    parser.addOption({QStringLiteral("watch"), QStringLiteral("Station mode: upgrades each device attached "
                                                              "from now on (to the --port ports, when "
                                                              "named), until interrupted.")});
    parser.addOption({QStringLiteral("dry-run"), QStringLiteral("Connects, tells which file each device would "
                                                                "get and why, and sends nothing.")});
    parser.addOption({QStringLiteral("reflash"), QStringLiteral("Sends a device that is up to date its own "
                                                                "version again.")});
    parser.addOption({QStringLiteral("verify"), QStringLiteral("Checks that the restarted device reports the "
                                                               "firmware the file's name announces.")});
    parser.addOption({QStringLiteral("ledger"), QStringLiteral("Appends one CSV line per device and attempt "
                                                               "to PATH (an unwritable PATH is a usage error)."),
                      QStringLiteral("PATH")});
    parser.addOption({QStringLiteral("timeout"), QStringLiteral("Gives each device at most SECONDS from its "
                                                                "connection to its result (exit 5 when they run "
                                                                "out); without it, the protocol's own limits."),
                      QStringLiteral("SECONDS")});
    parser.addOption({QStringLiteral("log"), QStringLiteral("Writes the log to PATH instead of log.txt "
                                                            "in the working directory."),
                      QStringLiteral("PATH")});
    QCommandLineOption clock(QStringLiteral("clock-factor"), QString(), QStringLiteral("N"));
    clock.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(clock);
    PortOptions::addTo(parser);
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("list, info or upgrade"));
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("the firmware file, or a folder or zip archive of them (upgrade)"),
                                 QStringLiteral("[PATH]"));
}

bool commandFrom(const QStringList &positional, FlashOptions *options, QString *error)
{
    const QString name = positional.value(0);
    const int expected = name == QLatin1String("upgrade") ? 2 : 1;
    if (name == QLatin1String("list"))
        options->command = FlashOptions::Command::List;
    else if (name == QLatin1String("info"))
        options->command = FlashOptions::Command::Info;
    else if (name == QLatin1String("upgrade"))
        options->command = FlashOptions::Command::Upgrade;
    else {
        *error = name.isEmpty() ? QStringLiteral("no command given (list, info or upgrade)")
                                : QStringLiteral("unknown command \"%1\"").arg(name);
        return false;
    }
    if (positional.size() != expected) {
        *error = expected == 2 ? QStringLiteral("upgrade needs one PATH")
                               : QStringLiteral("%1 takes no file").arg(name);
        return false;
    }
    options->file = positional.value(1);
    return true;
}
// --all takes the devices attached, which excludes naming them or waiting for
// them (a station may serve named ports); the upgrade's options need an upgrade.
bool consistent(const FlashOptions &options, QString *error)
{
    const bool upgrade = options.command == FlashOptions::Command::Upgrade;
    if (options.all && (options.watch || !options.ports.isEmpty())) {
        *error = QStringLiteral("--all excludes --port and --watch");
        return false;
    }
    if (!upgrade && (options.all || options.watch || options.verify || !options.ledgerPath.isEmpty()
                     || options.timeoutSeconds > 0 || options.dryRun || options.reflash)) {
        *error = QStringLiteral("--all, --watch, --verify, --ledger, --timeout, --dry-run and --reflash go with "
                                "upgrade");
        return false;
    }
    return true;
}
} // namespace

bool FlashOptions::parse(const QStringList &arguments, const SerialPortLister &system, FlashOptions *options,
                         QString *error)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version"))) {
        options->command = parser.isSet(QStringLiteral("help")) ? Command::Help : Command::Version;
        return true;
    }
    options->all = parser.isSet(QStringLiteral("all"));
    options->watch = parser.isSet(QStringLiteral("watch"));
    options->verify = parser.isSet(QStringLiteral("verify"));
    options->dryRun = parser.isSet(QStringLiteral("dry-run"));
    options->reflash = parser.isSet(QStringLiteral("reflash"));
    options->ledgerPath = parser.value(QStringLiteral("ledger"));
    options->json = parser.isSet(QStringLiteral("json"));
    options->yes = parser.isSet(QStringLiteral("yes"));
    options->logPath = parser.value(QStringLiteral("log"));
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        options->timeoutSeconds = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || options->timeoutSeconds < 1 || options->timeoutSeconds > MaxTimeoutSeconds) {
            *error = QStringLiteral("--timeout needs a whole number of seconds from 1 to %1").arg(MaxTimeoutSeconds);
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("clock-factor"))) {
        bool ok = false;
        options->clockFactor = parser.value(QStringLiteral("clock-factor")).toInt(&ok);
        if (!ok || options->clockFactor < 1) {
            *error = QStringLiteral("--clock-factor needs a whole number from 1");
            return false;
        }
    }
    return PortOptions::portsFrom(parser, system, &options->ports, error)
            && commandFrom(parser.positionalArguments(), options, error) && consistent(*options, error);
}

QString FlashOptions::helpText()
{
    QCommandLineParser parser;
    addOptions(parser);
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades the firmware of FPV video-link devices over their USB serial port, without a window."));
    return parser.helpText() + QLatin1Char('\n') + QString::fromUtf8(Commands);
}
