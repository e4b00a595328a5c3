#ifndef DEVICESIMULATOR_CLIENT_H
#define DEVICESIMULATOR_CLIENT_H

#include "frameassembler.h"
#include "protocolframe.h"

#include <QSerialPort>
#include <limits>
#include <optional>

// The program's end of the line, as the tests play it: a real QSerialPort on
// the simulator's pty, reading with blocking waits in the test thread.
class SimClient
{
public:
    static constexpr int ReplyWaitMs = 2000;
    static constexpr int SilenceWaitMs = 300;

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

    // Raw traffic seen so far: bytes, reads, and the most frames one read completed.
    qint64 bytesRead() const { return m_bytesRead; }
    int reads() const { return m_reads; }
    int mostFramesInOneRead() const { return m_mostFramesInOneRead; }

private:
    QSerialPort m_port;
    FrameAssembler m_assembler{FrameAssembler::Logging::Quiet};
    QList<ReceivedFrame> m_frames;
    qint64 m_bytesRead = 0;
    int m_reads = 0;
    int m_mostFramesInOneRead = 0;
};

// Payloads and replies of the file transfer, as the tests need them.
namespace SimTestData {
constexpr int DeviceInfoBytes = int(sizeof(ar_device_info));
constexpr int ReceiveInfoBytes = int(sizeof(ar_receive_date_info));
constexpr int UpgradeStatusBytes = int(sizeof(ar_upgrade_status));
constexpr int AckInfoBytes = int(sizeof(ar_ack_info));
constexpr int Refused = -1;
// Stands for a status when no reply came; no device reports it.
constexpr int NoReply = std::numeric_limits<int>::min();

// Bytes that differ from their neighbours and do not repeat with a short period.
QByteArray sampleData(int bytes);
QByteArray md5Hex(const QByteArray &data);
QByteArray fileStart(const QByteArray &md5, int length, const QByteArray &path = "/tmp/fw.img");
QByteArray rebootRequest(const char *mode);
int replyStatus(const ReceivedFrame &frame);

template <typename Record>
Record recordOf(const ReceivedFrame &frame)
{
    return ProtocolFrame::readRecord<Record>(frame.payload.constData(), frame.payload.size());
}
} // namespace SimTestData

#endif // DEVICESIMULATOR_CLIENT_H
