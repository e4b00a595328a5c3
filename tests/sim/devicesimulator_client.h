#ifndef DEVICESIMULATOR_CLIENT_H
#define DEVICESIMULATOR_CLIENT_H

#include "frameassembler.h"
#include "protocolframe.h"

#include <QSerialPort>
#include <optional>

// The program's end of the line, as the tests play it: a real QSerialPort on
// the simulator's pty, reading with blocking waits in the test thread.
class SimClient
{
public:
    static constexpr int ReplyWaitMs = 2000;

    explicit SimClient(const QString &portPath);

    bool isOpen() const { return m_port.isOpen(); }
    QSerialPort &port() { return m_port; }

    void sendRaw(const QByteArray &bytes);
    void send(quint32 command, quint32 seq, const QByteArray &payload = QByteArray(),
              quint32 retry = 0);
    // Sends one request and returns its single reply, if one comes in time.
    std::optional<ReceivedFrame> request(quint32 command, quint32 seq,
                                         const QByteArray &payload = QByteArray());

    // Frames that arrive within `waitMs`, up to `count` of them.
    QList<ReceivedFrame> receive(int count, int waitMs = ReplyWaitMs);

private:
    QSerialPort m_port;
    FrameAssembler m_assembler{FrameAssembler::Logging::Quiet};
    QList<ReceivedFrame> m_frames;
};

// Payloads and replies, as the tests need them.
namespace SimTestData {
constexpr int Refused = -1;

QByteArray md5Hex(const QByteArray &data);
QByteArray fileStart(const QByteArray &md5, int length);
QByteArray rebootRequest(const char *mode);
// The verdict of a file-end reply.
int replyStatus(const ReceivedFrame &frame);

template <typename Record>
Record recordOf(const ReceivedFrame &frame)
{
    return ProtocolFrame::readRecord<Record>(frame.payload.constData(), frame.payload.size());
}
} // namespace SimTestData

#endif // DEVICESIMULATOR_CLIENT_H
