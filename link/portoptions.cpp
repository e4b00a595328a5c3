#include "portoptions.h"

#include <QCommandLineParser>
#include <QDir>

namespace {
const QString PortOption = QStringLiteral("port");
const QString VidOption = QStringLiteral("vid");
const QString ManufacturerOption = QStringLiteral("manufacturer");
const QString UnpairedText = QStringLiteral("each --port needs its --vid (or one --vid for all)");

// A decimal or 0x-hexadecimal vendor identifier.
bool parseVid(const QString &text, quint16 *vid, QString *error)
{
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const uint value = (hex ? text.mid(2) : text).toUInt(&ok, hex ? 16 : 10);
    if (!ok || value > 0xFFFF) {
        *error = QStringLiteral("--vid needs a number from 0 to 65535, not \"%1\"").arg(text);
        return false;
    }
    *vid = quint16(value);
    return true;
}

// A relative path, the way `list` finds it: below the working directory. The
// serial port module would look for it below /dev; a bare name stays the system's.
QString resolvedPort(const QString &name)
{
    return name.contains(QLatin1Char('/')) && QDir::isRelativePath(name)
               ? QDir::cleanPath(QDir::current().absoluteFilePath(name))
               : name;
}

// The n-th of `values`, or the only one.
QString pairedValue(const QStringList &values, int n)
{
    return values.size() == 1 ? values.first() : values.value(n);
}
} // namespace

namespace PortOptions {

void addTo(QCommandLineParser &parser)
{
    parser.addOption({{QStringLiteral("p"), PortOption},
                      QStringLiteral("Also list the serial port PATH (a device node or a symbolic "
                                     "link to one) while it exists. Use with --vid."),
                      QStringLiteral("PATH")});
    parser.addOption({VidOption,
                      QStringLiteral("USB vendor identifier of the --port device, decimal or "
                                     "0x-hexadecimal (for example 7536 or 0x1d70)."),
                      QStringLiteral("N")});
    parser.addOption({ManufacturerOption,
                      QStringLiteral("USB manufacturer string of the --port device."),
                      QStringLiteral("TEXT")});
}

SharedPortLister listerFrom(const QCommandLineParser &parser, QString *error)
{
    auto system = std::make_shared<SystemSerialPortLister>();
    if (!parser.isSet(PortOption) && !parser.isSet(VidOption) && !parser.isSet(ManufacturerOption))
        return system;
    if (!parser.isSet(PortOption) || !parser.isSet(VidOption)) {
        *error = QStringLiteral("--port and --vid go together");
        return nullptr;
    }
    quint16 vid = 0;
    if (!parseVid(parser.value(VidOption), &vid, error))
        return nullptr;
    return std::make_shared<ExtraPortLister>(
        system, SerialPortDescription{parser.value(PortOption), parser.value(ManufacturerOption), vid});
}

bool portsFrom(const QCommandLineParser &parser, const SerialPortLister &system, QList<SerialPortDescription> *ports,
               QString *error)
{
    const QStringList names = parser.values(PortOption);
    const QStringList vids = parser.values(VidOption);
    const QStringList manufacturers = parser.values(ManufacturerOption);
    const auto pairs = [&names](const QStringList &values) {
        return values.size() == names.size() || values.size() == 1;
    };
    if (names.isEmpty() && vids.isEmpty() && manufacturers.isEmpty())
        return true;
    if (names.isEmpty() || (!vids.isEmpty() && !pairs(vids)) || (!manufacturers.isEmpty() && !pairs(manufacturers))) {
        *error = UnpairedText;
        return false;
    }
    for (int n = 0; n < names.size(); ++n) {
        SerialPortDescription port{resolvedPort(names.at(n)), pairedValue(manufacturers, n), 0};
        if (!vids.isEmpty()) {
            if (!parseVid(pairedValue(vids, n), &port.vendorIdentifier, error))
                return false;
        } else if (const auto listed = system.portReachedBy(port.portName)) {
            port.vendorIdentifier = listed->vendorIdentifier;
            if (manufacturers.isEmpty())
                port.manufacturer = listed->manufacturer;
        } else {
            *error = UnpairedText;
            return false;
        }
        ports->append(port);
    }
    return true;
}

} // namespace PortOptions
