#ifndef DEVICEMODEL_H
#define DEVICEMODEL_H

#include "frameassembler.h"

#include <QByteArray>
#include <QString>
#include <optional>

struct SimState;

// The device's side of each request: what it remembers about the file being
// received and the upgrade under way, and the payload it answers with.
// Only requests the device accepted reach it.
class DeviceModel
{
public:
    struct Reply
    {
        QByteArray payload;
        bool reboot = false;
        QString rebootMode;
    };

    // Acts on one request; `state` must be locked by the caller.
    Reply respond(const ReceivedFrame &request, SimState &state);

    // A reboot forgets the unfinished file and the upgrade progress; `state`
    // must be locked.
    void powerCycle(SimState &state);

    static QByteArray acceptance();
    static QByteArray refusal();

private:
    QByteArray finishFile(SimState &state);
    QByteArray reportStatus(SimState &state, Reply *reply);

    // The firmware the last accepted file's name announced (a package's part:
    // the package's), taken on at the next power cycle when the script says
    // the upgrade takes.
    QByteArray m_announcedFirmware;

    ar_file_info m_announcement{};
    QByteArray m_data;
    std::optional<quint32> m_lastDataSeq; // a retransmitted segment is not stored twice
    // A retransmitted file end gets the verdict already given, not a new one.
    std::optional<quint32> m_lastEndSeq;
    QByteArray m_lastEndReply;
};

#endif // DEVICEMODEL_H
