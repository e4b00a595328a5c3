#include "portoptions.h"

#include <QCommandLineParser>

namespace {
const QString PortOption = QStringLiteral("port");
const QString VidOption = QStringLiteral("vid");
const QString ManufacturerOption = QStringLiteral("manufacturer");
} // namespace

namespace PortOptions {

void addTo(QCommandLineParser &parser)
{
    parser.addOption({PortOption,
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
    const QString text = parser.value(VidOption);
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    bool ok = false;
    const uint vid = (hex ? text.mid(2) : text).toUInt(&ok, hex ? 16 : 10);
    if (!ok || vid > 0xFFFF) {
        *error = QStringLiteral("--vid needs a number from 0 to 65535, not \"%1\"")
                     .arg(parser.value(VidOption));
        return nullptr;
    }
    return std::make_shared<ExtraPortLister>(
        system, SerialPortDescription{parser.value(PortOption), parser.value(ManufacturerOption),
                                      quint16(vid)});
}

} // namespace PortOptions
