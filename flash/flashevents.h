#ifndef FLASHEVENTS_H
#define FLASHEVENTS_H

#include <QJsonObject>
#include <QString>

struct DeviceIdentityInfo;
struct FirmwareChoice;

// The events of one device's run, as JSON objects: what --json prints one
// per line and what the plain and terminal output are made from. Every
// event carries "event", "port" and "serial" (empty until the identity is known).
namespace FlashEvents {

struct Source
{
    QString port;
    QString serial;
};

QJsonObject identity(const Source &source, const DeviceIdentityInfo &info, int maxSegment, int vid);
// The file chosen for the device (or why none is sent), its version and
// source, and every file considered with the reason it was not chosen.
QJsonObject rules(const Source &source, const FirmwareChoice &choice, bool accepted, const QString &text);
QJsonObject phase(const Source &source, const QString &name);
QJsonObject progress(const Source &source, qint64 bytes, qint64 total, double bytesPerSecond);
QJsonObject status(const Source &source, int code, int percent, const QString &text);
// What the upgrade waits for ("restart", "verdict", ...), for how long so far and at most.
QJsonObject wait(const Source &source, const QString &phase, qint64 seconds, qint64 limitSeconds);
QJsonObject result(const Source &source, int exitCode, const QString &text);

} // namespace FlashEvents

#endif // FLASHEVENTS_H
