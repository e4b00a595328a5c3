#include "flashevents.h"

#include "deviceidentitystore.h"

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

QJsonObject rules(const Source &source, const QString &file, bool accepted, const QString &text)
{
    QJsonObject object = event("rules", source);
    object.insert(QStringLiteral("file"), file);
    object.insert(QStringLiteral("accepted"), accepted);
    object.insert(QStringLiteral("text"), text);
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
