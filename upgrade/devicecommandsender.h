#ifndef DEVICECOMMANDSENDER_H
#define DEVICECOMMANDSENDER_H

#include "devicelink.h"
#include "upgradeclock.h"

#include <QByteArray>
#include <QObject>
#include <memory>

// Sends the console's commands to the device on a thread of its own (it is
// moved there), one after the other: opens the device's port afresh, lets it
// settle and sends with acknowledgement. Nothing waits for it: the outcome
// comes by signal.
class DeviceCommandSender : public QObject
{
    Q_OBJECT

public:
    // Denied: the port is there, but the user may not read and write it.
    enum class Outcome { NoPort, OpenFailed, Denied, NotAcknowledged, Acknowledged };

    static constexpr int RecordBytes = 28; // a console command record
    static constexpr int ConsoleSettleMs = 100;  // after reception starts, before the command

    DeviceCommandSender(DeviceLink *link, std::shared_ptr<const UpgradeClock> clock);

    // Any thread: sends the first RecordBytes bytes of `decoded` (zero-filled)
    // as the console's command; consoleRecordSent() tells how it went, with
    // the way to get access when the port was denied.
    void sendConsoleRecord(const QByteArray &decoded);

signals:
    void consoleRecordSent(DeviceCommandSender::Outcome outcome, int decodedBytes,
                           const QString &deniedText);

private:
    Outcome sendRecordOnThisThread(QByteArray record, PortAccess *access);

    DeviceLink *m_link;
    std::shared_ptr<const UpgradeClock> m_clock;
};

Q_DECLARE_METATYPE(DeviceCommandSender::Outcome)

#endif // DEVICECOMMANDSENDER_H
