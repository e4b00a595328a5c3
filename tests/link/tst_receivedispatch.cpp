#include "fixedportlister.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "pseudoterminal.h"
#include "usbvirtualserial.h"

#include <QSignalSpy>
#include <QtTest>
#include <poll.h>
#include <unistd.h>

namespace {
enum class Ack { Positive, Negative, None };
constexpr int RefusalWaitMs = 10000; // a refusal ends the wait long before this
constexpr int FloodBytes = 8 * 1024 * 1024;
constexpr int UnreadLimit = 1024 * 1024; // far above what a pty holds, far below the flood
constexpr int ArrivalWaitMs = 20000;      // only a fault waits this long

// Writes `bytes` to the pty's device end, waiting whenever the port has not
// taken the last ones yet; false when the port stopped taking them.
bool writeAll(int fd, const QByteArray &bytes)
{
    for (int done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, ArrivalWaitMs) <= 0)
            return false;
    }
    return true;
}

template <typename Record>
QByteArray reply(quint32 command, quint32 seq, const Record &record, quint16 type = AR_MSGTYPE_ACK)
{
    return ProtocolFrame::encode(command, type, seq, 0, ProtocolFrame::recordBytes(record));
}

QByteArray plainAck(quint32 command, quint32 seq)
{
    return ProtocolFrame::encode(command, AR_MSGTYPE_ACK, seq, 0);
}

ar_device_info deviceInfo()
{
    ar_device_info info{};
    info.receiveMaxSize = 10240;
    info.cputemp = 47;
    qstrncpy(info.firmwareInfo, "Merlow_R_Sky_1_0_5", sizeof(info.firmwareInfo));
    qstrncpy(info.serialNumber, "SN42", sizeof(info.serialNumber));
    qstrncpy(info.hardwareVersion, "HW2", sizeof(info.hardwareVersion));
    return info;
}
} // namespace

Q_DECLARE_METATYPE(Ack)

class TestReceiveDispatch : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_log.reset(new LogCapture);
        m_link.reset(new UsbVirtualSerial(std::make_shared<FixedPortLister>()));
    }
    void cleanup() { m_link.reset(); m_log.reset(); }

    void eachReply_recordsItsAcknowledgementAndSignals_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<Ack>("ack");
        QTest::addColumn<QString>("signal"); // the one signal it emits, if any
        const quint32 seq = 70000; // beyond 16 bits
        QTest::newRow("reboot") << plainAck(AR_COMMAND_GET_ACTIVE, seq) << Ack::Positive << "reboot";
        QTest::newRow("remote upgrade") << plainAck(AR_CMD_REMOTE_UPGRADE, seq) << Ack::Positive << "";
        QTest::newRow("device info") << reply(AR_COMMAND_FIND_DEVICE, seq, deviceInfo()) << Ack::Positive
                                     << "segment";
        QTest::newRow("device info of request type")
            << reply(AR_COMMAND_FIND_DEVICE, seq, deviceInfo(), AR_MSGTYPE_REQUEST) << Ack::Negative << "segment";
        QTest::newRow("status") << reply(AR_CMD_UPGRADE_STATUS, seq, ar_upgrade_status{}) << Ack::Positive
                                << "status";
        QTest::newRow("file end") << reply(AR_CMD_SENDFILE_END, seq, ar_receive_date_info{}) << Ack::Positive
                                  << "verdict";
        QTest::newRow("refusal") << reply(0, seq, ar_ack_info{-1, {}}) << Ack::Negative << "status";
        QTest::newRow("command 0, other status") << reply(0, seq, ar_ack_info{0, {}}) << Ack::None << "";
        QTest::newRow("acknowledgement command") << plainAck(AR_CMD_ACK, seq) << Ack::None << "";
        QTest::newRow("unknown command") << plainAck(AR_CMD_UPLOAD_FILE, seq) << Ack::None << "";
        QByteArray badCrc = plainAck(AR_CMD_REMOTE_UPGRADE, seq);
        badCrc[33] = char(badCrc[33] ^ 0x5A);
        QTest::newRow("wrong CRC, processed all the same") << badCrc << Ack::Positive << "";
    }

    void eachReply_recordsItsAcknowledgementAndSignals()
    {
        QFETCH(QByteArray, frame);
        QFETCH(Ack, ack);
        QFETCH(QString, signal);
        QSignalSpy reboot(m_link.get(), &UsbVirtualSerial::sig_reboot);
        QSignalSpy segment(m_link.get(), &UsbVirtualSerial::sig_SegLength);
        QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
        QSignalSpy verdict(m_link.get(), &UsbVirtualSerial::sig_receiveDateInfo);
        m_link->receiveBytes(frame);
        const quint32 seq = ProtocolFrame::decodeHeader(frame.constData()).seq;

        switch (ack) {
        case Ack::Positive:
            QVERIFY(m_link->waitForACK(seq, 0));
            QVERIFY(!m_link->waitForACK(seq, 0)); // the wait consumed the entry
            break;
        case Ack::Negative: {
            QElapsedTimer timer;
            timer.start();
            QVERIFY(!m_link->waitForACK(seq, RefusalWaitMs));
            QVERIFY(timer.elapsed() < RefusalWaitMs / 2);
            break;
        }
        case Ack::None:
            QVERIFY(!m_link->waitForACK(seq, 0));
            break;
        }
        QCOMPARE(reboot.count(), signal == QLatin1String("reboot") ? 1 : 0);
        QCOMPARE(segment.count(), signal == QLatin1String("segment") ? 1 : 0);
        QCOMPARE(status.count(), signal == QLatin1String("status") ? 1 : 0);
        QCOMPARE(verdict.count(), signal == QLatin1String("verdict") ? 1 : 0);
        QCOMPARE(m_link->getDeviceInfoFlag(), signal == QLatin1String("segment"));
    }

    void deviceInfoReply_storesTheIdentityUntilReset()
    {
        QSignalSpy segment(m_link.get(), &UsbVirtualSerial::sig_SegLength);
        m_link->receiveBytes(reply(AR_COMMAND_FIND_DEVICE, 3, deviceInfo()));
        QCOMPARE(segment.first().first().toInt(), 10240);
        QCOMPARE(m_link->getReceiveMaxSize(), 10240);

        char firmware[64], serial[32], hardware[32];
        int temperature = 0;
        m_link->getDeviceInfo(firmware, serial, hardware, &temperature);
        QCOMPARE(QByteArray(firmware), QByteArray("Merlow_R_Sky_1_0_5"));
        QCOMPARE(QByteArray(serial), QByteArray("SN42"));
        QCOMPARE(QByteArray(hardware), QByteArray("HW2"));
        QCOMPARE(temperature, 47);

        m_link->resetDeviceInfoPara();
        m_link->getDeviceInfo(firmware, serial, hardware, &temperature);
        QCOMPARE(temperature, -100);
        QCOMPARE(firmware[0], '\0');
    }

    void halfFrameFromTheLastConnection_isDroppedOnOpen()
    {
        const ar_upgrade_status report{};
        m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 8, report).left(40)); // the device reset mid-reply
        m_link->openSerialPort(QStringLiteral("/nonexistent/port"));
        m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 9, report));
        QVERIFY(m_link->waitForACK(9, 0));
    }

    void flood_leavesThePortsBufferBounded_data()
    {
        QTest::addColumn<bool>("receiving");
        QTest::newRow("reception on") << true;
        QTest::newRow("reception off") << false;
    }

    // A device that sends and sends, whether or not anyone listens: the port
    // keeps no more than a pty's worth, and a reply that follows is still heard.
    void flood_leavesThePortsBufferBounded()
    {
        QFETCH(bool, receiving);
        PseudoTerminal pty;
        QString error;
        QVERIFY2(pty.open(&error), qPrintable(error));
        QVERIFY(m_link->openSerialPort(pty.slavePath()));
        if (receiving)
            m_link->startSerialRecv();
        QVERIFY(writeAll(pty.masterFd(), QByteArray(FloodBytes, '\x5A')));
        const qint64 unread = m_link->unreadBytes();
        QVERIFY2(unread <= UnreadLimit, qPrintable(QString::number(unread)));

        m_link->startSerialRecv();
        QVERIFY(writeAll(pty.masterFd(), reply(AR_CMD_UPGRADE_STATUS, 11, ar_upgrade_status{})));
        QVERIFY(m_link->waitForACK(11, ArrivalWaitMs));
    }
private:
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<LogCapture> m_log;
};

QTEST_GUILESS_MAIN(TestReceiveDispatch)
#include "tst_receivedispatch.moc"
