#include "flashevents.h"

#include "deviceidentitystore.h"
#include "firmwarechoicetext.h"

#include <QJsonArray>

namespace {
QJsonObject event(const char *type, const FlashEvents::Source &source)
{
    return {{QStringLiteral("event"), QLatin1String(type)},
            {QStringLiteral("port"), source.port},
            {QStringLiteral("serial"), source.serial}};
}
} // namespace

namespace FlashEvents {

QJsonObject identity(const Source &source, const DeviceIdentityInfo &info, int maxSegment, int vid)
{
    QJsonObject object = event("identity", source);
    object.insert(QStringLiteral("vid"), vid);
    object.insert(QStringLiteral("hardware"), fixedFieldText(info.hardware));
    object.insert(QStringLiteral("firmware"), fixedFieldText(info.firmware));
    object.insert(QStringLiteral("temperature"), info.cpuTemp);
    object.insert(QStringLiteral("maxSegment"), maxSegment);
    return object;
}

QJsonObject rules(const Source &source, const FirmwareChoice &choice, bool accepted, const QString &text)
{
    static const char *const Verdicts[] = {"chosen", "up-to-date", "nothing-fits", "ambiguous", "refused", "unusable"};
    static const char *const SourceKinds[] = {"file", "folder", "archive"};
    QJsonObject object = event("rules", source);
    const bool named = choice.namesFile();
    const QString file = named ? choice.chosen.location.fileName() : QString();
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("version"), FirmwareRules::versionOf(file));
    object.insert(QStringLiteral("entry"), named ? choice.chosen.shownPath : QString());
    object.insert(QStringLiteral("source"), QJsonObject{{QStringLiteral("kind"), QLatin1String(SourceKinds[int(choice.sourceKind)])},
                                                        {QStringLiteral("name"), choice.sourceName},
                                                        {QStringLiteral("path"), choice.sourcePath}});
    object.insert(QStringLiteral("verdict"), QLatin1String(Verdicts[int(choice.verdict)]));
    object.insert(QStringLiteral("accepted"), accepted);
    object.insert(QStringLiteral("text"), text);
    QJsonArray candidates;
    for (const FirmwareChoice::Candidate &candidate : choice.candidates)
        candidates.append(QJsonObject{{QStringLiteral("file"), candidate.shownPath},
                                      {QStringLiteral("version"), FirmwareRules::versionOf(candidate.location.fileName())},
                                      {QStringLiteral("reason"), FirmwareChoiceText::reasonCode(candidate.reason)},
                                      {QStringLiteral("text"), FirmwareChoiceText::reason(candidate.reason)}});
    object.insert(QStringLiteral("candidates"), candidates);
    return object;
}

QJsonObject phase(const Source &source, const QString &name)
{
    QJsonObject object = event("phase", source);
    object.insert(QStringLiteral("phase"), name);
    return object;
}

QJsonObject progress(const Source &source, qint64 bytes, qint64 total, double bytesPerSecond)
{
    QJsonObject object = event("progress", source);
    object.insert(QStringLiteral("bytes"), bytes);
    object.insert(QStringLiteral("total"), total);
    object.insert(QStringLiteral("percent"), total > 0 ? int(bytes * 100 / total) : 100);
    object.insert(QStringLiteral("rate"), qRound64(bytesPerSecond)); // bytes per second
    return object;
}

QJsonObject status(const Source &source, int code, int percent, const QString &text)
{
    QJsonObject object = event("status", source);
    object.insert(QStringLiteral("code"), code);
    object.insert(QStringLiteral("percent"), percent);
    object.insert(QStringLiteral("text"), text);
    return object;
}

QJsonObject wait(const Source &source, const QString &phase, qint64 seconds, qint64 limitSeconds)
{
    QJsonObject object = event("wait", source);
    object.insert(QStringLiteral("phase"), phase);
    object.insert(QStringLiteral("seconds"), seconds);
    object.insert(QStringLiteral("limit"), limitSeconds);
    return object;
}

QJsonObject result(const Source &source, int exitCode, const QString &text)
{
    QJsonObject object = event("result", source);
    object.insert(QStringLiteral("exitCode"), exitCode);
    object.insert(QStringLiteral("ok"), exitCode == 0);
    object.insert(QStringLiteral("text"), text);
    return object;
}

} // namespace FlashEvents
