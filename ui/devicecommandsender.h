#ifndef DEVICECOMMANDSENDER_H
#define DEVICECOMMANDSENDER_H

#include "usbvirtualserial.h"

#include <QByteArray>
#include <QObject>

// Sends the upgrade page's commands to the device on a thread of its own (it
// is moved there), one after the other: opens the device's port afresh, lets
// it settle and sends with acknowledgement. The console's command is sent
// without waiting and reported by signal; a page command is waited for.
class DeviceCommandSender : public QObject
{
    Q_OBJECT

public:
    // Denied: the port is there, but the user may not read and write it.
    enum class Outcome { NoPort, OpenFailed, Denied, NotAcknowledged, Acknowledged };

    static constexpr int RecordBytes = 28; // a console command record
    static constexpr int CommandSettleMs = 10;   // after reception starts, before a page command
    static constexpr int ConsoleSettleMs = 100;  // the same for a console command

    explicit DeviceCommandSender(UsbVirtualSerial *link);

    // Any thread but the sender's: sends payload-less `command` with up to
    // `transmissions` transmissions and returns when it is done. `access`,
    // when given, tells of a port that failed to open.
    Outcome sendCommand(int command, unsigned int transmissions, PortAccess *access = nullptr);
    // Any thread: sends the first RecordBytes bytes of `decoded` (zero-filled)
    // as the console's command; consoleRecordSent() tells how it went, with
    // the way to get access when the port was denied.
    void sendConsoleRecord(const QByteArray &decoded);

signals:
    void consoleRecordSent(DeviceCommandSender::Outcome outcome, int decodedBytes,
                           const QString &deniedText);

private:
    // Opens the device's port and, when there is one, lets it settle.
    UsbVirtualSerial::PortOpening openAndSettle(int settleMs, PortAccess *access = nullptr);
    Outcome sendOnThisThread(int command, unsigned int transmissions, PortAccess *access);
    Outcome sendRecordOnThisThread(QByteArray record, PortAccess *access);

    UsbVirtualSerial *m_link;
};

Q_DECLARE_METATYPE(DeviceCommandSender::Outcome)

#endif // DEVICECOMMANDSENDER_H
