#include "fixedportlister.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "usbvirtualserial.h"

#include <QSignalSpy>
#include <QtTest>

namespace {
template <typename Record>
QByteArray reply(quint32 command, quint32 seq, const Record &record, quint16 type = AR_MSGTYPE_ACK)
{
    ar_protocol_t header = ProtocolFrame::makeHeader(command, type, AR_FMT_BINARY, 0, sizeof(record), seq);
    const QByteArray payload = ProtocolFrame::recordBytes(record);
    ProtocolFrame::seal(&header, 0, payload.constData(), quint32(payload.size()));
    return ProtocolFrame::headerBytes(header) + payload;
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

class TestReceiveDispatch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void acknowledgingCommands_recordPositiveAcks_data();
    void acknowledgingCommands_recordPositiveAcks();
    void deviceInfoReply_storesIdentityAndSegmentLength();
    void deviceInfoWithRequestType_deliversInfoButRefusesItsSeq();
    void statusReply_isForwardedByValue();
    void fileEndReply_forwardsTheVerdict();
    void negativeAck_refusesAtOnceAndReportsUnknownError();
    void commandZeroWithOtherStatus_changesNothing();
    void unknownCommand_isLoggedAndNotAcknowledged();
    void shortPayload_readsMissingBytesAsZero();
    void wrongCrc_isProcessedLikeAnyOther();
    void halfFrameFromTheLastConnection_isDroppedOnOpen();

private:
    std::unique_ptr<UsbVirtualSerial> m_link;
    std::unique_ptr<LogCapture> m_log;
};

void TestReceiveDispatch::init()
{
    qRegisterMetaType<ar_upgrade_status>("ar_upgrade_status");
    m_log.reset(new LogCapture);
    m_link.reset(new UsbVirtualSerial(std::make_shared<FixedPortLister>()));
}

void TestReceiveDispatch::cleanup()
{
    m_link.reset();
    m_log.reset();
}

void TestReceiveDispatch::acknowledgingCommands_recordPositiveAcks_data()
{
    QTest::addColumn<quint32>("command");
    QTest::newRow("reboot") << quint32(AR_COMMAND_GET_ACTIVE);
    QTest::newRow("remote upgrade") << quint32(AR_CMD_REMOTE_UPGRADE);
    QTest::newRow("file start") << quint32(AR_CMD_SENDFILE_START);
    QTest::newRow("file data") << quint32(AR_CMD_SENDFILE_DATA);
    QTest::newRow("console text") << quint32(AR_COMMAND_SEND_TEXT);
}

void TestReceiveDispatch::acknowledgingCommands_recordPositiveAcks()
{
    QFETCH(quint32, command);
    QSignalSpy reboot(m_link.get(), &UsbVirtualSerial::sig_reboot);
    m_link->receiveBytes(plainAck(command, 70000));
    QVERIFY(m_link->waitForACK(70000, 0));
    QVERIFY(!m_link->waitForACK(70000, 0)); // the wait consumed the entry
    QCOMPARE(reboot.count(), command == AR_COMMAND_GET_ACTIVE ? 1 : 0);
}

void TestReceiveDispatch::deviceInfoReply_storesIdentityAndSegmentLength()
{
    QSignalSpy segLength(m_link.get(), &UsbVirtualSerial::sig_SegLength);
    QVERIFY(!m_link->getDeviceInfoFlag());
    m_link->receiveBytes(reply(AR_COMMAND_FIND_DEVICE, 3, deviceInfo()));

    QVERIFY(m_link->waitForACK(3, 0));
    QCOMPARE(segLength.count(), 1);
    QCOMPARE(segLength.first().first().toInt(), 10240);
    QCOMPARE(m_link->getReceiveMaxSize(), 10240);
    QVERIFY(m_link->getDeviceInfoFlag());

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
    QVERIFY(m_link->getDeviceInfoFlag()); // the reset leaves the flag to the page
}

void TestReceiveDispatch::deviceInfoWithRequestType_deliversInfoButRefusesItsSeq()
{
    m_link->receiveBytes(reply(AR_COMMAND_FIND_DEVICE, 4, deviceInfo(), AR_MSGTYPE_REQUEST));
    QVERIFY(m_link->getDeviceInfoFlag());
    QVERIFY(!m_link->waitForACK(4, 1000));
    QVERIFY(LogCapture::contains(QStringLiteral("###ACK check failed for seq  4")));
    QVERIFY(LogCapture::contains(QStringLiteral("] ###wait fail get seq  4")));
}

void TestReceiveDispatch::statusReply_isForwardedByValue()
{
    QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
    ar_upgrade_status report{};
    report.percent = 40;
    report.status = STAT_IN_PROGRESS;
    m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 8, report));
    QVERIFY(m_link->waitForACK(8, 0));
    QCOMPARE(status.count(), 1);
    const auto delivered = status.first().first().value<ar_upgrade_status>();
    QCOMPARE(delivered.percent, 40);
    QCOMPARE(delivered.status, int(STAT_IN_PROGRESS));
}

void TestReceiveDispatch::fileEndReply_forwardsTheVerdict()
{
    QSignalSpy verdict(m_link.get(), &UsbVirtualSerial::sig_receiveDateInfo);
    ar_receive_date_info info{};
    info.status = -1;
    m_link->receiveBytes(reply(AR_CMD_SENDFILE_END, 9, info));
    QVERIFY(m_link->waitForACK(9, 0));
    QCOMPARE(verdict.count(), 1);
    QCOMPARE(verdict.first().first().toInt(), -1);
}

void TestReceiveDispatch::negativeAck_refusesAtOnceAndReportsUnknownError()
{
    QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
    ar_ack_info refusal{};
    refusal.status = -1;
    m_link->receiveBytes(reply(0, 11, refusal));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!m_link->waitForACK(11, 5000));
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().value<ar_upgrade_status>().status, int(UPGRATE_ERR_MAX));
    QCOMPARE(status.first().first().value<ar_upgrade_status>().percent, 0);
}

void TestReceiveDispatch::commandZeroWithOtherStatus_changesNothing()
{
    QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
    m_link->receiveBytes(reply(0, 12, ar_ack_info{}));
    QVERIFY(!m_link->waitForACK(12, 0));
    QCOMPARE(status.count(), 0);
    QVERIFY(!LogCapture::contains(QStringLiteral("###ACK check failed")));
}

void TestReceiveDispatch::unknownCommand_isLoggedAndNotAcknowledged()
{
    m_link->receiveBytes(plainAck(AR_CMD_ACK, 13) + plainAck(AR_CMD_UPLOAD_FILE, 14));
    QVERIFY(!m_link->waitForACK(13, 0));
    QVERIFY(!m_link->waitForACK(14, 0));
    QVERIFY(LogCapture::contains(QStringLiteral("Unhandled command: 1000")));
    QVERIFY(LogCapture::contains(QStringLiteral("Unhandled command: 205")));
}

void TestReceiveDispatch::shortPayload_readsMissingBytesAsZero()
{
    QSignalSpy status(m_link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
    const qint32 percent = 77;
    m_link->receiveBytes(ProtocolFrame::encode(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_ACK, 15, 0,
                                               QByteArray(reinterpret_cast<const char *>(&percent), 4)));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.first().first().value<ar_upgrade_status>().percent, 77);
    QCOMPARE(status.first().first().value<ar_upgrade_status>().status, 0);
}

void TestReceiveDispatch::wrongCrc_isProcessedLikeAnyOther()
{
    QByteArray bytes = plainAck(AR_CMD_REMOTE_UPGRADE, 16);
    bytes[33] = char(bytes[33] ^ 0x5A);
    m_link->receiveBytes(bytes);
    QVERIFY(m_link->waitForACK(16, 0));
}

void TestReceiveDispatch::halfFrameFromTheLastConnection_isDroppedOnOpen()
{
    const ar_upgrade_status report{};
    m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 8, report).left(40)); // the device reset mid-reply
    m_link->openSerialPort(QStringLiteral("/nonexistent/port"));
    m_link->receiveBytes(reply(AR_CMD_UPGRADE_STATUS, 9, report));
    QVERIFY(m_link->waitForACK(9, 0));
}

QTEST_GUILESS_MAIN(TestReceiveDispatch)
#include "tst_receivedispatch.moc"
