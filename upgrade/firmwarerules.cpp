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

int compareNumbers(const QVector<quint32> &a, const QVector<quint32> &b)
{
    // Most significant first; a missing trailing number counts as 0 (value() past the end).
    const int length = std::max(a.size(), b.size());
    for (int i = 0; i < length; ++i) {
        if (a.value(i) != b.value(i))
            return a.value(i) > b.value(i) ? 1 : -1;
    }
    return 0;
}

// Every step of the prefix and version rule, kept so the checked form can log
// what it found where the quiet form only answers.
struct NameCheck
{
    QString tgtName;
    QStringList curParts, tgtParts;
    int curVerStart = NoPrefix, tgtVerStart = NoPrefix;
    int prefixMismatch = -1; // the first prefix position that differs
    QVector<quint32> curVer, tgtVer;
    int result = FirmwareRules::CheckOk;
    int order = 0; // the target's version against the current one
};

NameCheck examine(const QString &curName, const QString &fileName)
{
    NameCheck check;
    check.tgtName = fileName.section(ExtensionSeparator, 0, 0);
    check.curParts = nameParts(curName);
    check.tgtParts = nameParts(check.tgtName);
    check.curVerStart = versionStart(check.curParts);
    check.tgtVerStart = versionStart(check.tgtParts);
    if (check.curVerStart != check.tgtVerStart || check.curVerStart <= 0) {
        check.result = FirmwareRules::CheckFormatError;
        return check;
    }
    for (int i = 0; i < check.curVerStart && check.prefixMismatch < 0; ++i) {
        if (check.curParts.at(i) != check.tgtParts.at(i))
            check.prefixMismatch = i;
    }
    if (check.prefixMismatch >= 0) {
        check.result = FirmwareRules::CheckFormatError;
        return check;
    }
    check.curVer = versionNumbers(check.curParts, check.curVerStart);
    check.tgtVer = versionNumbers(check.tgtParts, check.tgtVerStart);
    check.order = compareNumbers(check.tgtVer, check.curVer);
    check.result = check.order < 0 ? FirmwareRules::CheckVersionError : FirmwareRules::CheckOk;
    return check;
}

} // namespace

QString FirmwareRules::firmwareText(const char *firmware)
{
    return QString::fromUtf8(firmware, int(qstrnlen(firmware, FirmwareCapacity)));
}

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
    const NameCheck check = examine(curName, m_fileName);
    LOG_INFO << "[Upgrade::check] strip ext ->" << "curName =" << curName << "tgtName =" << check.tgtName;
    LOG_INFO << "[Upgrade::check] split parts ->" << "curParts =" << check.curParts
             << "tgtParts =" << check.tgtParts;
    LOG_INFO << "[Upgrade::check] version start index ->" << "curVerStart =" << check.curVerStart
             << "tgtVerStart =" << check.tgtVerStart;

    if (check.curVerStart != check.tgtVerStart || check.curVerStart <= 0) {
        LOG_INFO << "[Upgrade::check] prefix segment count mismatch -> FORMAT_ERR";
        return CheckFormatError;
    }
    if (check.prefixMismatch >= 0) {
        const int i = check.prefixMismatch;
        LOG_WARNING << "[Upgrade::check] prefix mismatch @" << i << "cur =" << check.curParts.at(i)
                    << "tgt =" << check.tgtParts.at(i) << "-> FORMAT_ERR";
        return CheckFormatError;
    }
    LOG_INFO << "[Upgrade::check] prefix OK ->" << check.curParts.mid(0, check.curVerStart).join(PartSeparator);
    LOG_INFO << "[Upgrade::check] version vectors ->" << "curVer =" << check.curVer
             << "tgtVer =" << check.tgtVer;
    if (check.order > 0)
        LOG_INFO << "[Upgrade::check] tgt > cur -> OK";
    else if (check.order < 0)
        LOG_WARNING << "[Upgrade::check] tgt < cur -> VERSION_ERR";
    else
        LOG_INFO << "[Upgrade::check] versions equal -> OK";
    return check.result;
}

int FirmwareRules::matchName(const QString &firmware, const QString &fileName)
{
    return examine(firmware, fileName).result;
}

int FirmwareRules::compareVersions(const QString &a, const QString &b)
{
    const QStringList aParts = nameParts(a.section(ExtensionSeparator, 0, 0));
    const QStringList bParts = nameParts(b.section(ExtensionSeparator, 0, 0));
    return compareNumbers(versionNumbers(aParts, qMax(0, versionStart(aParts))),
                          versionNumbers(bParts, qMax(0, versionStart(bParts))));
}

QString FirmwareRules::prefixOf(const QString &name)
{
    const QStringList parts = nameParts(name.section(ExtensionSeparator, 0, 0));
    return parts.mid(0, qMax(0, versionStart(parts))).join(PartSeparator);
}

QString FirmwareRules::versionOf(const QString &name)
{
    const QStringList parts = nameParts(name.section(ExtensionSeparator, 0, 0));
    return parts.mid(qMax(0, versionStart(parts))).join(PartSeparator);
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
