// Fuzzes the firmware name rules with a firmware field as the device reports
// it (a fixed buffer that need not end in a NUL) and an image file name.
//
// Input: one byte giving the firmware length (taken modulo the field size
// plus one), the firmware bytes, then the file name as UTF-8.

#include "firmwarerules.h"
#include "fuzzsupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>

namespace {

constexpr int FieldSize = FirmwareRules::FirmwareCapacity;
const QChar PartSeparator = QLatin1Char('_');
const QChar ExtensionSeparator = QLatin1Char('.');
const QLatin1String PackageExtension(".img");

bool isOneOf(int value, std::initializer_list<int> allowed)
{
    return std::find(allowed.begin(), allowed.end(), value) != allowed.end();
}

// The firmware string the rules see: the field up to its first NUL.
QString firmwareText(const char *field)
{
    return QString::fromUtf8(field, int(qstrnlen(field, FieldSize)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::silenceQtMessages();
    new QCoreApplication(*argc, *argv); // lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::InputReader input(data, size);
    const QByteArray firmwareBytes = input.take(input.takeByte() % (FieldSize + 1));
    const QString fileName = QString::fromUtf8(input.rest());

    // Exactly the field's size on the heap, so any read past it is reported.
    const std::unique_ptr<char[]> firmware(new char[FieldSize]());
    std::memcpy(firmware.get(), firmwareBytes.constData(), size_t(firmwareBytes.size()));

    const bool validName = FirmwareRules::isPackageNameValid(fileName);
    if (validName)
        FUZZ_CHECK(fileName.endsWith(PackageExtension));

    using Rules = FirmwareRules;
    const int check = Rules::checkPrefixAndVersion(firmware.get(), fileName);
    FUZZ_CHECK(isOneOf(check, {Rules::CheckOk, Rules::CheckFormatError, Rules::CheckVersionError}));

    // The firmware's own name is never an older version of itself.
    const QString current = firmwareText(firmware.get());
    if (!current.contains(ExtensionSeparator)) {
        const int self = Rules::checkPrefixAndVersion(firmware.get(), current + PackageExtension);
        FUZZ_CHECK(self != Rules::CheckVersionError);
    }

    const int unit = Rules::checkFirmware(firmware.get());
    FUZZ_CHECK(isOneOf(unit, {Rules::UnitNone, Rules::UnitOther, Rules::UnitGround, Rules::UnitSky}));
    FUZZ_CHECK((unit == Rules::UnitNone) == current.isEmpty());

    FUZZ_CHECK(!Rules::getDeviceName(fileName).contains(PartSeparator));
    FUZZ_CHECK(!Rules::getDeviceName(current).contains(PartSeparator));

    const bool multiImage = Rules::isMultiImageLine(AR_FPV_BOARD_TYPE_SKY_EX6, firmware.get());
    FUZZ_CHECK(!Rules::isMultiImageLine(AR_FPV_BOARD_TYPE_GND_EX5, firmware.get()));
    if (multiImage)
        FUZZ_CHECK(unit == Rules::UnitSky || unit == Rules::UnitGround);
    return 0;
}
