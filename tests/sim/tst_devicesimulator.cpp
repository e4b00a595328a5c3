#include "devicesimulator_fixture.h"
#include "protocolframe.h"

#include <QSignalSpy>

using namespace SimTestData;

void TestDeviceSimulator::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_sim = std::make_unique<DeviceSimulator>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->errorString()));
    m_client = std::make_unique<SimClient>(m_sim->slavePath());
    QVERIFY2(m_client->isOpen(), qPrintable(m_client->port().errorString()));
}

void TestDeviceSimulator::cleanup()
{
    m_client.reset();
    m_sim.reset();
    m_dir.reset();
}

std::optional<ReceivedFrame> TestDeviceSimulator::transferFile(SimClient &client,
                                                               const QByteArray &fileStartPayload,
                                                               const QList<QByteArray> &segments)
{
    if (!client.request(AR_CMD_SENDFILE_START, ++m_seq, fileStartPayload))
        return std::nullopt;
    for (const QByteArray &segment : segments) {
        if (!client.request(AR_CMD_SENDFILE_DATA, ++m_seq, segment))
            return std::nullopt;
    }
    return client.request(AR_CMD_SENDFILE_END, ++m_seq);
}

void TestDeviceSimulator::deviceQuery_replyCarriesIdentity_data()
{
    QTest::addColumn<bool>("changeWhileRunning");
    QTest::newRow("identity given at start") << false;
    QTest::newRow("identity changed while running") << true;
}

void TestDeviceSimulator::deviceQuery_replyCarriesIdentity()
{
    QFETCH(bool, changeWhileRunning);
    DeviceIdentity identity;
    identity.receiveMaxSize = 4096;
    identity.cpuTemp = 61;
    identity.firmware = "Fw_Test_2_3_4";
    identity.serialNumber = "SN-XYZ-77";
    identity.hardwareVersion = "HW_V2.1";
    if (changeWhileRunning) {
        m_sim->setIdentity(identity);
    } else {
        m_client.reset();
        m_sim = std::make_unique<DeviceSimulator>(identity);
        QVERIFY(m_sim->start());
        m_client = std::make_unique<SimClient>(m_sim->slavePath());
    }

    const auto reply = m_client->request(AR_COMMAND_FIND_DEVICE, 9);
    QVERIFY(reply);
    QCOMPARE(reply->payload.size(), DeviceInfoBytes);
    const ar_device_info info = recordOf<ar_device_info>(*reply);
    QCOMPARE(info.receiveMaxSize, 4096);
    QCOMPARE(info.cputemp, 61);
    QCOMPARE(QByteArray(info.firmwareInfo), identity.firmware);
    QCOMPARE(QByteArray(info.serialNumber), identity.serialNumber);
    QCOMPARE(QByteArray(info.hardwareVersion), identity.hardwareVersion);
    QVERIFY(qstrlen(info.devicename) > 0);
}

void TestDeviceSimulator::request_acknowledgedWithSameCommandAndSeq_data()
{
    QTest::addColumn<quint32>("command");
    QTest::addColumn<quint32>("seq");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("replyBytes");
    QTest::newRow("device query") << quint32(AR_COMMAND_FIND_DEVICE) << 1u << QByteArray()
                                  << DeviceInfoBytes;
    QTest::newRow("reboot") << quint32(AR_COMMAND_GET_ACTIVE) << 2u << rebootRequest("normal")
                            << AckInfoBytes;
    QTest::newRow("remote upgrade")
        << quint32(AR_CMD_REMOTE_UPGRADE) << 3u << QByteArray() << AckInfoBytes;
    QTest::newRow("file start") << quint32(AR_CMD_SENDFILE_START) << 70000u << fileStart("00", 1)
                                << AckInfoBytes;
    QTest::newRow("file data") << quint32(AR_CMD_SENDFILE_DATA) << 5u << QByteArray("abc")
                               << AckInfoBytes;
    QTest::newRow("file end") << quint32(AR_CMD_SENDFILE_END) << 6u << QByteArray()
                              << ReceiveInfoBytes;
    QTest::newRow("upgrade status")
        << quint32(AR_CMD_UPGRADE_STATUS) << 0xFFFFFFFFu << QByteArray() << UpgradeStatusBytes;
    QTest::newRow("console text") << quint32(AR_COMMAND_SEND_TEXT) << 8u << QByteArray(28, 'x')
                                  << AckInfoBytes;
    QTest::newRow("unknown command")
        << quint32(AR_COMMAND_GET_OSD) << 9u << QByteArray() << AckInfoBytes;
}

void TestDeviceSimulator::request_acknowledgedWithSameCommandAndSeq()
{
    QFETCH(quint32, command);
    QFETCH(quint32, seq);
    QFETCH(QByteArray, payload);
    QFETCH(int, replyBytes);
    m_sim->setRebootOnRequest(false);

    const auto reply = m_client->request(command, seq, payload);
    QVERIFY(reply);
    QCOMPARE(reply->header.type, quint16(AR_MSGTYPE_ACK));
    QCOMPARE(reply->header.command, command);
    QCOMPARE(reply->header.seq, seq);
    QCOMPARE(reply->payload.size(), replyBytes);
    QVERIFY(
        ProtocolFrame::crcMatches(reply->header, reply->payload.constData(), reply->header.length));
    // Nothing stray in between: the next frame is already the next reply.
    const auto next = m_client->request(AR_COMMAND_FIND_DEVICE, seq + 1);
    QVERIFY(next);
    QCOMPARE(next->header.seq, seq + 1);
}

void TestDeviceSimulator::nonRequestFrame_recordedButNotAnswered()
{
    m_client->sendRaw(ProtocolFrame::encode(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_ACK, 4, 0));
    QVERIFY(m_client->receive(1, SimClient::SilenceWaitMs).isEmpty());
    QCOMPARE(m_sim->frames().size(), 1);
    QCOMPARE(m_sim->frames().first().type, quint16(AR_MSGTYPE_ACK));
}

void TestDeviceSimulator::frames_recordRetryAndCrcValidity()
{
    QSignalSpy received(m_sim.get(), &DeviceSimulator::frameReceived);
    QByteArray corrupted = ProtocolFrame::encode(AR_COMMAND_SEND_TEXT, AR_MSGTYPE_REQUEST, 12, 0,
                                                 QByteArray(28, 't'));
    const int crcAt = int(offsetof(ar_protocol_t, crc32));
    corrupted[crcAt] = char(~corrupted.at(crcAt));
    m_client->send(AR_CMD_SENDFILE_DATA, 11, "segment", 2);
    m_client->sendRaw(corrupted);

    const QList<ReceivedFrame> replies = m_client->receive(2);
    QCOMPARE(replies.size(), 2);
    QCOMPARE(replies.at(1).header.seq, 12u);
    const QList<SimFrameRecord> frames = m_sim->frames();
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames.at(0).command, quint32(AR_CMD_SENDFILE_DATA));
    QCOMPARE(frames.at(0).retry, 2u);
    QCOMPARE(frames.at(0).length, 7u);
    QCOMPARE(frames.at(0).payload, QByteArray("segment"));
    QVERIFY(frames.at(0).crcValid);
    QCOMPARE(frames.at(1).seq, 12u);
    QVERIFY(!frames.at(1).crcValid);
    QTRY_COMPARE(received.size(), 2);

    m_sim->clearFrames();
    QVERIFY(m_sim->frames().isEmpty());
}

void TestDeviceSimulator::wholeFile_acceptedAndRecordedExactly()
{
    const QByteArray data = sampleData(2500);
    const auto end = transferFile(*m_client, fileStart(md5Hex(data), data.size(), "/sd/fw.img"),
                                  {data.left(1024), data.mid(1024, 1024), data.mid(2048)});
    QVERIFY(end);
    const auto info = recordOf<ar_receive_date_info>(*end);
    QCOMPARE(info.status, 0);
    QCOMPARE(info.cursize, data.size());
    QCOMPARE(info.totalsize, data.size());

    const QList<SimReceivedFile> files = m_sim->receivedFiles();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files.first().data, data);
    QCOMPARE(files.first().verdict, 0);
    QCOMPARE(QByteArray(files.first().announcement.MD5), md5Hex(data));
    QCOMPARE(files.first().announcement.length, data.size());
    QCOMPARE(QByteArray(files.first().announcement.filePath), QByteArray("/sd/fw.img"));
}

void TestDeviceSimulator::damagedFile_rejected_data()
{
    const QByteArray data = sampleData(300);
    QTest::addColumn<QByteArray>("announcement");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("checksum of other data") << fileStart(md5Hex("other"), data.size()) << data;
    QTest::newRow("upper-case checksum") << fileStart(md5Hex(data).toUpper(), data.size()) << data;
    QTest::newRow("data cut short") << fileStart(md5Hex(data), data.size()) << data.left(200);
    QTest::newRow("data longer than announced") << fileStart(md5Hex(data), 200) << data;
}

void TestDeviceSimulator::damagedFile_rejected()
{
    QFETCH(QByteArray, announcement);
    QFETCH(QByteArray, sent);
    const auto end = transferFile(*m_client, announcement, {sent});
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), Refused);
    QCOMPARE(m_sim->receivedFiles().size(), 1);
    QCOMPARE(m_sim->receivedFiles().first().verdict, Refused);
    QCOMPARE(m_sim->receivedFiles().first().data, sent);
}

void TestDeviceSimulator::fileStart_discardsPartialData()
{
    const QByteArray data = sampleData(100);
    QVERIFY(m_client->request(AR_CMD_SENDFILE_START, 1, fileStart(md5Hex(data), data.size())));
    QVERIFY(m_client->request(AR_CMD_SENDFILE_DATA, 2, data.left(40)));
    const auto end = transferFile(*m_client, fileStart(md5Hex(data), data.size()), {data});
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), 0);
    QCOMPARE(m_sim->receivedFiles().first().data, data);
}

void TestDeviceSimulator::megabyteSegment_arrivesWhole()
{
    const QByteArray data = sampleData(int(FrameAssembler::MaxPayloadBytes));
    const auto end = transferFile(*m_client, fileStart(md5Hex(data), data.size()), {data});
    QVERIFY(end);
    QCOMPARE(replyStatus(*end), 0);
}

void TestDeviceSimulator::scriptedVerdicts_overrideThenChecksumRuleReturns()
{
    const QByteArray data = sampleData(64);
    const QByteArray good = fileStart(md5Hex(data), data.size());
    const QByteArray bad = fileStart(md5Hex("other"), data.size());
    m_sim->setVerdicts({Refused, UPGRATE_ERR_BAD_FILE, 0});

    QList<int> verdicts;
    for (const QByteArray &announcement : {good, good, bad, bad, good}) {
        const auto end = transferFile(*m_client, announcement, {data});
        QVERIFY(end);
        verdicts << replyStatus(*end);
    }
    QCOMPARE(verdicts, QList<int>({Refused, UPGRATE_ERR_BAD_FILE, 0, Refused, 0}));

    // A file end sent again (its acknowledgement came late) is answered with
    // the verdict already given: it takes no scripted verdict and is no new file.
    m_sim->setVerdicts({Refused, 0});
    QVERIFY(transferFile(*m_client, good, {data}));
    const int files = m_sim->receivedFiles().size();
    m_client->send(AR_CMD_SENDFILE_END, m_seq, QByteArray(), 1);
    const QList<ReceivedFrame> again = m_client->receive(1);
    QCOMPARE(again.size(), 1);
    QCOMPARE(replyStatus(again.first()), Refused);
    QCOMPARE(m_sim->receivedFiles().size(), files);
    const auto next = transferFile(*m_client, good, {data});
    QVERIFY(next);
    QCOMPARE(replyStatus(*next), 0);
}

void TestDeviceSimulator::upgradeStatus_walksScriptAndRepeatsLast_data()
{
    QTest::addColumn<StatusSteps>("script");
    QTest::addColumn<StatusSteps>("expected");
    QTest::newRow("default script") << StatusSteps()
                                    << StatusSteps({{0, STAT_VERIFY_IMAGE},
                                                    {0, STAT_START},
                                                    {20, STAT_IN_PROGRESS},
                                                    {40, STAT_IN_PROGRESS},
                                                    {60, STAT_IN_PROGRESS},
                                                    {80, STAT_IN_PROGRESS},
                                                    {100, STAT_DONE},
                                                    {100, STAT_DONE},
                                                    {100, STAT_DONE}});
    QTest::newRow("failing upgrade")
        << StatusSteps({{0, STAT_START}, {30, STAT_IN_PROGRESS}, {30, UPGRATE_ERR_FLASH_ERR}})
        << StatusSteps({{0, STAT_START},
                        {30, STAT_IN_PROGRESS},
                        {30, UPGRATE_ERR_FLASH_ERR},
                        {30, UPGRATE_ERR_FLASH_ERR}});
}

void TestDeviceSimulator::upgradeStatus_walksScriptAndRepeatsLast()
{
    QFETCH(StatusSteps, script);
    QFETCH(StatusSteps, expected);
    if (!script.isEmpty())
        m_sim->setStatusScript(script);

    StatusSteps seen;
    for (int i = 0; i < expected.size(); ++i) {
        const auto reply = m_client->request(AR_CMD_UPGRADE_STATUS, ++m_seq);
        QVERIFY(reply);
        const auto status = recordOf<ar_upgrade_status>(*reply);
        seen.append({status.percent, status.status});
    }
    QCOMPARE(seen, expected);
}

void TestDeviceSimulator::upgradeStatus_fileEndRestartsScript()
{
    m_sim->setStatusScript({{10, STAT_START}, {100, STAT_DONE}});
    const auto nextStatus = [this] {
        const auto reply = m_client->request(AR_CMD_UPGRADE_STATUS, ++m_seq);
        return reply ? replyStatus(*reply) : NoReply;
    };
    QCOMPARE(nextStatus(), int(STAT_START));
    QCOMPARE(nextStatus(), int(STAT_DONE));
    QVERIFY(m_client->request(AR_CMD_SENDFILE_END, ++m_seq));
    QCOMPARE(nextStatus(), int(STAT_START));
}

QTEST_MAIN(TestDeviceSimulator)
