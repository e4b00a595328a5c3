#include "firmwarechoicetext.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
using Reason = FirmwareChoice::Reason;
using Problem = FirmwareArchive::Problem;
constexpr qint64 BytesPerMegabyte = 1024 * 1024;

QString translated(const char *text)
{
    return QCoreApplication::translate("FirmwareChoice", text);
}

struct ReasonText
{
    Reason reason;
    const char *code;
    const char *text;
};

const ReasonText ReasonTexts[] = {
    {Reason::Chosen, "chosen", QT_TRANSLATE_NOOP("FirmwareChoice", "选用")},
    {Reason::OtherDevice, "other-device", QT_TRANSLATE_NOOP("FirmwareChoice", "属于其他设备")},
    {Reason::VersionTooLow, "version-too-low", QT_TRANSLATE_NOOP("FirmwareChoice", "版本低于设备当前固件")},
    {Reason::PackageForImageLine, "package-for-single-image-device",
     QT_TRANSLATE_NOOP("FirmwareChoice", "是多镜像升级包，此设备只接受单个镜像")},
    {Reason::ImageForPackageLine, "image-for-package-device",
     QT_TRANSLATE_NOOP("FirmwareChoice", "是单个镜像，此设备只接受多镜像升级包")},
    {Reason::Empty, "empty", QT_TRANSLATE_NOOP("FirmwareChoice", "文件为空")},
    {Reason::Unreadable, "unreadable", QT_TRANSLATE_NOOP("FirmwareChoice", "无法读取")},
    {Reason::Older, "older", QT_TRANSLATE_NOOP("FirmwareChoice", "有更新的版本")},
    {Reason::SameContent, "same-content", QT_TRANSLATE_NOOP("FirmwareChoice", "与选用的文件内容相同")},
    {Reason::DifferentContent, "different-content",
     QT_TRANSLATE_NOOP("FirmwareChoice", "与另一个同版本的文件内容不同")},
};

const ReasonText &textOf(Reason reason)
{
    for (const ReasonText &text : ReasonTexts)
        if (text.reason == reason)
            return text;
    return ReasonTexts[0];
}

QString nearestMisses(const FirmwareChoice &choice)
{
    QStringList named;
    for (const FirmwareChoice::Candidate &miss : choice.nearestMisses(FirmwareChoiceText::NamedMisses))
        named.append(translated(QT_TRANSLATE_NOOP("FirmwareChoice", "%1（%2）"))
                         .arg(miss.shownPath, FirmwareChoiceText::reason(miss.reason)));
    return named.isEmpty() ? translated(QT_TRANSLATE_NOOP("FirmwareChoice", "没有固件文件"))
                           : named.join(QStringLiteral("; "));
}
QString unusableSource(FirmwareShelf::Kind kind, const QString &name, Problem problem, const QString &entry)
{
    if (kind == FirmwareShelf::Kind::Folder)
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "无法读取文件夹 %1！")).arg(name);
    return FirmwareChoiceText::archiveProblem(name, problem, entry);
}
} // namespace

namespace FirmwareChoiceText {

QString chosenNote(const FirmwareChoice &choice)
{
    const QString name = choice.chosen.location.fileName();
    if (!choice.fromFolderOrArchive())
        return name;
    return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "%1 取自 %2：%3 → %4"))
        .arg(name, choice.sourceName, FirmwareRules::versionOf(choice.deviceFirmware), FirmwareRules::versionOf(name));
}

QString upToDateNote(const FirmwareChoice &choice)
{
    return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "设备已是最新版本 %1（%2 中最新的是 %3）"))
        .arg(FirmwareRules::versionOf(choice.deviceFirmware), choice.sourceName, choice.chosen.location.fileName());
}

QString refusal(const FirmwareChoice &choice)
{
    using Verdict = FirmwareChoice::Verdict;
    switch (choice.verdict) {
    case Verdict::Chosen:
    case Verdict::UpToDate:
        return QString();
    case Verdict::Refused:
        return QCoreApplication::translate("UpgradePage", FirmwareRules::refusalText(choice.fileVerdict));
    case Verdict::Ambiguous:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "%1 与 %2 版本相同但内容不同，无法确定使用哪一个！"))
            .arg(choice.chosen.shownPath, choice.rival.shownPath);
    case Verdict::NothingFits:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice",
                                            "%1 中没有适合此设备的固件：需要 %2，版本不低于 %3。最接近的：%4"))
            .arg(choice.sourceName, FirmwareRules::prefixOf(choice.deviceFirmware),
                 FirmwareRules::versionOf(choice.deviceFirmware), nearestMisses(choice));
    case Verdict::Unusable:
        return unusableSource(choice.sourceKind, choice.sourceName, choice.archiveProblem, choice.problemEntry);
    }
    return QString();
}

QString unusable(const FirmwareShelf &shelf)
{
    return unusableSource(shelf.kind(), shelf.name(), shelf.archiveProblem(), shelf.problemEntry());
}

QString archiveProblem(const QString &archiveName, Problem problem, const QString &entry)
{
    switch (problem) {
    case Problem::None:
        return QString();
    case Problem::Damaged:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "压缩包 %1 已损坏！")).arg(archiveName);
    case Problem::ClimbingName:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "压缩包 %1 不能使用：%2 指向压缩包以外！"))
            .arg(archiveName, entry);
    case Problem::Link:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "压缩包 %1 不能使用：%2 是链接！")).arg(archiveName, entry);
    case Problem::Encrypted:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "压缩包 %1 不能使用：%2 已加密！"))
            .arg(archiveName, entry);
    case Problem::TooLarge:
        return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "压缩包 %1 不能使用：%2 解压后超过 %3 MB！"))
            .arg(archiveName, entry)
            .arg(FirmwareArchive::MaxEntryBytes / BytesPerMegabyte);
    }
    return QString();
}

QString notExtracted(const QString &fileName, const QString &folder, const QString &error)
{
    return translated(QT_TRANSLATE_NOOP("FirmwareChoice", "%1 无法解压到 %2：%3")).arg(fileName, folder, error);
}

QString reason(Reason reason)
{
    return translated(textOf(reason).text);
}

QString reasonCode(Reason reason)
{
    return QLatin1String(textOf(reason).code);
}

} // namespace FirmwareChoiceText
