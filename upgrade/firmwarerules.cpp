#include "firmwarerules.h"

#include "logging.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <optional>

namespace {

const QChar PartSeparator = QLatin1Char('_');
const QChar PathSeparator = QLatin1Char('/');
const QChar ExtensionSeparator = QLatin1Char('.');

// Version start index of a name that has no prefix part at all.
const int NoPrefix = -1;

// The device name shown on the page is the firmware string's first three fields.
const int DeviceNameFields = 3;

const QLatin1String GroundUnitTag("GND");
const QLatin1String SkyUnitTag("SKY");

// Only this line of sky units takes multi-image packages.
const QLatin1String MultiImageMarker("Merlow_R_Sky_");

QString firmwareText(const char *firmware)
{
    return QString::fromUtf8(firmware, int(qstrnlen(firmware, FirmwareRules::FirmwareCapacity)));
}

QString fileNameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(PathSeparator) + 1);
}

// Plain decimal digits that fit 32 bits; toUInt alone would also take a sign
// or surrounding blanks.
std::optional<quint32> versionNumber(const QString &part)
{
    const bool digitsOnly = !part.isEmpty()
        && std::all_of(part.cbegin(), part.cend(), [](QChar c) {
               return c >= QLatin1Char('0') && c <= QLatin1Char('9');
           });
    if (!digitsOnly)
        return std::nullopt;
    bool converted = false;
    const quint32 value = part.toUInt(&converted, 10);
    if (!converted)
        return std::nullopt;
    return value;
}

QStringList nameParts(const QString &name)
{
    return name.split(PartSeparator, Qt::SkipEmptyParts);
}

// The parts after the last non-numeric one are the version.
int versionStart(const QStringList &parts)
{
    for (int i = parts.size() - 1; i >= 0; --i) {
        if (!versionNumber(parts.at(i)))
            return i + 1;
    }
    return NoPrefix;
}

QVector<quint32> versionNumbers(const QStringList &parts, int start)
{
    QVector<quint32> numbers;
    for (int i = start; i < parts.size(); ++i)
        numbers.append(*versionNumber(parts.at(i)));
    return numbers;
}

} // namespace

bool FirmwareRules::isPackageNameValid(const QString &filePath)
{
    // Anchored as a whole, so a trailing line feed cannot slip past "$".
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9_]+(_\\d+)+\\.img")));
    return pattern.match(fileNameOf(filePath)).hasMatch();
}

int FirmwareRules::checkPrefixAndVersion(const char *m_firmware, const QString &m_fileName)
{
    const QString curName = firmwareText(m_firmware);
    qDebug().noquote() << QStringLiteral("[Upgrade::check] ===== start =====\n"
                                         "  current : %1\n"
                                         "  target  : %2")
                              .arg(curName, m_fileName);

    const QString tgtName = m_fileName.section(ExtensionSeparator, 0, 0);
    LOG_INFO << "[Upgrade::check] strip ext ->" << "curName =" << curName << "tgtName =" << tgtName;

    const QStringList curParts = nameParts(curName);
    const QStringList tgtParts = nameParts(tgtName);
    LOG_INFO << "[Upgrade::check] split parts ->" << "curParts =" << curParts
             << "tgtParts =" << tgtParts;

    const int curVerStart = versionStart(curParts);
    const int tgtVerStart = versionStart(tgtParts);
    LOG_INFO << "[Upgrade::check] version start index ->" << "curVerStart =" << curVerStart
             << "tgtVerStart =" << tgtVerStart;

    if (curVerStart != tgtVerStart || curVerStart <= 0) {
        LOG_INFO << "[Upgrade::check] prefix segment count mismatch -> FORMAT_ERR";
        return CheckFormatError;
    }

    for (int i = 0; i < curVerStart; ++i) {
        if (curParts.at(i) != tgtParts.at(i)) {
            LOG_WARNING << "[Upgrade::check] prefix mismatch @" << i << "cur =" << curParts.at(i)
                        << "tgt =" << tgtParts.at(i) << "-> FORMAT_ERR";
            return CheckFormatError;
        }
    }
    LOG_INFO << "[Upgrade::check] prefix OK ->" << curParts.mid(0, curVerStart).join(PartSeparator);

    const QVector<quint32> curVer = versionNumbers(curParts, curVerStart);
    const QVector<quint32> tgtVer = versionNumbers(tgtParts, tgtVerStart);
    LOG_INFO << "[Upgrade::check] version vectors ->" << "curVer =" << curVer
             << "tgtVer =" << tgtVer;

    // Most significant first; a missing trailing number counts as 0 (value() past the end).
    const int length = std::max(curVer.size(), tgtVer.size());
    for (int i = 0; i < length; ++i) {
        const quint32 c = curVer.value(i);
        const quint32 t = tgtVer.value(i);
        if (t > c) {
            LOG_INFO << "[Upgrade::check] tgt > cur -> OK";
            return CheckOk;
        }
        if (t < c) {
            LOG_WARNING << "[Upgrade::check] tgt < cur -> VERSION_ERR";
            return CheckVersionError;
        }
    }
    LOG_INFO << "[Upgrade::check] versions equal -> OK";
    return CheckOk;
}

int FirmwareRules::checkFirmware(const char *firmware)
{
    const QString text = firmwareText(firmware);
    if (text.isEmpty())
        return UnitNone;
    if (text.contains(GroundUnitTag, Qt::CaseInsensitive))
        return UnitGround;
    if (text.contains(SkyUnitTag, Qt::CaseInsensitive))
        return UnitSky;
    return UnitOther;
}

QString FirmwareRules::getDeviceName(const QString &firmwareStr)
{
    // section() counts empty fields, so adjacent underscores still end a field.
    QString name = firmwareStr.section(PartSeparator, 0, DeviceNameFields - 1);
    name.replace(PartSeparator, QLatin1Char(' '));
    LOG_INFO << "get Device Name Three Parts: " << name;
    return name;
}

bool FirmwareRules::isMultiImageLine(int boardType, const char *firmware)
{
    return boardType == AR_FPV_BOARD_TYPE_SKY_EX6
        && firmwareText(firmware).contains(MultiImageMarker, Qt::CaseSensitive);
}

FirmwareRules::FileJudgement FirmwareRules::judgeFile(const char *firmware, const QString &filePath)
{
    if (!isPackageNameValid(filePath))
        return {FileVerdict::BadName, CheckOk};
    const FileVerdict type = judgeFileType(filePath);
    if (type != FileVerdict::Accepted)
        return {type, CheckOk};
    const int check = checkPrefixAndVersion(firmware, fileNameOf(filePath));
    if (check == CheckFormatError)
        return {FileVerdict::WrongDevice, check};
    if (check == CheckVersionError)
        return {FileVerdict::VersionTooLow, check};
    return {FileVerdict::Accepted, check};
}

FirmwareRules::FileVerdict FirmwareRules::judgeFileType(const QString &filePath)
{
    const QFileInfo info(filePath);
    if (!info.exists())
        return FileVerdict::Accepted;
    if (!info.isFile())
        return FileVerdict::NotAFile;
    return info.size() == 0 ? FileVerdict::EmptyFile : FileVerdict::Accepted;
}

// Equal versions are the ones neither of which is lower than the other, by the
// one comparison the rules make.
bool FirmwareRules::isAnnouncedFirmware(const char *firmware, const QString &fileName)
{
    const QByteArray announced = announcedFirmware(fileName).toUtf8();
    return checkPrefixAndVersion(firmware, fileName) == CheckOk
        && checkPrefixAndVersion(announced.constData(), firmwareText(firmware)) == CheckOk;
}

QString FirmwareRules::announcedFirmware(const QString &filePath)
{
    return fileNameOf(filePath).section(ExtensionSeparator, 0, 0);
}

const char *FirmwareRules::refusalText(FileVerdict verdict)
{
    switch (verdict) {
    case FileVerdict::BadName:
        return QT_TRANSLATE_NOOP("UpgradePage", "升级固件文件名错误！");
    case FileVerdict::WrongDevice:
        return QT_TRANSLATE_NOOP("UpgradePage", "升级固件与设备不匹配！请检查！");
    case FileVerdict::VersionTooLow:
        return QT_TRANSLATE_NOOP("UpgradePage", "升级固件版本过低！请检查！");
    case FileVerdict::EmptyFile:
        return QT_TRANSLATE_NOOP("UpgradePage", "升级固件文件为空！请检查！");
    case FileVerdict::NotAFile:
        return QT_TRANSLATE_NOOP("UpgradePage", "升级固件不是正常的文件！请检查！");
    case FileVerdict::Accepted:
        break;
    }
    return nullptr;
}
