// Fault injection: refusals, lost and late replies, mangled replies.

#include "devicesimulator_fixture.h"
#include "protocolframe.h"

#include <QElapsedTimer>

using namespace SimTestData;

void TestDeviceSimulator::refuseNext_refusesThatManyThenAcknowledges_data()
{
    QTest::addColumn<quint32>("limitedTo");
    QTest::addColumn<QList<quint32>>("commands");
    QTest::addColumn<QList<bool>>("refused");
    const quint32 query = AR_COMMAND_FIND_DEVICE;
    const quint32 start = AR_CMD_SENDFILE_START;
    QTest::newRow("any command") << AnyCommand << QList<quint32>{query, start, query}
                                 << QList<bool>{true, true, false};
    QTest::newRow("file start only") << start << QList<quint32>{query, start, start, start}
                                     << QList<bool>{false, true, true, false};
}

void TestDeviceSimulator::refuseNext_refusesThatManyThenAcknowledges()
{
    QFETCH(quint32, limitedTo);
    QFETCH(QList<quint32>, commands);
    QFETCH(QList<bool>, refused);
    m_sim->refuseNext(2, limitedTo);

    for (int i = 0; i < commands.size(); ++i) {
        const quint32 seq = 100 + quint32(i);
        const auto reply = m_client->request(commands.at(i), seq, fileStart("00", 1));
        QVERIFY(reply);
        QCOMPARE(reply->header.type, quint16(AR_MSGTYPE_ACK));
        QCOMPARE(reply->header.seq, seq);
        QCOMPARE(reply->header.command, refused.at(i) ? 0u : commands.at(i));
        if (refused.at(i)) {
            QCOMPARE(reply->payload.size(), AckInfoBytes);
            QCOMPARE(replyStatus(*reply), Refused);
        }
    }
}

void TestDeviceSimulator::dropNextAcks_ignoresThatManyThenAcknowledges_data()
{
    QTest::addColumn<quint32>("limitedTo");
    QTest::addColumn<QList<quint32>>("commands");
    QTest::addColumn<QList<bool>>("answered");
    const quint32 query = AR_COMMAND_FIND_DEVICE;
    const quint32 status = AR_CMD_UPGRADE_STATUS;
    QTest::newRow("any command") << AnyCommand << QList<quint32>{status, query, query}
                                 << QList<bool>{false, false, true};
    QTest::newRow("upgrade status only") << status << QList<quint32>{query, status, status, status}
                                         << QList<bool>{true, false, false, true};
}

void TestDeviceSimulator::dropNextAcks_ignoresThatManyThenAcknowledges()
{
    QFETCH(quint32, limitedTo);
    QFETCH(QList<quint32>, commands);
    QFETCH(QList<bool>, answered);
    m_sim->dropNextAcks(2, limitedTo);

    for (int i = 0; i < commands.size(); ++i) {
        m_client->send(commands.at(i), quint32(i));
        const QList<ReceivedFrame> replies = m_client->receive(
            1, answered.at(i) ? SimClient::ReplyWaitMs : SimClient::SilenceWaitMs);
        QCOMPARE(replies.size(), answered.at(i) ? 1 : 0);
    }
    QCOMPARE(m_sim->frames().size(), commands.size());
}

void TestDeviceSimulator::silent_answersNothingUntilLifted_data()
{
    QTest::addColumn<quint32>("silenced");
    QTest::addColumn<bool>("queryAnswered");
    QTest::newRow("every command") << AnyCommand << false;
    QTest::newRow("file end only") << quint32(AR_CMD_SENDFILE_END) << true;
}

void TestDeviceSimulator::silent_answersNothingUntilLifted()
{
    QFETCH(quint32, silenced);
    QFETCH(bool, queryAnswered);
    m_sim->setSilent(true, silenced);
    for (quint32 seq = 1; seq <= 2; ++seq) {
        m_client->send(AR_CMD_SENDFILE_END, seq);
        QVERIFY(m_client->receive(1, SimClient::SilenceWaitMs).isEmpty());
    }
    m_client->send(AR_COMMAND_FIND_DEVICE, 3);
    const int waitMs = queryAnswered ? SimClient::ReplyWaitMs : SimClient::SilenceWaitMs;
    QCOMPARE(m_client->receive(1, waitMs).size(), queryAnswered ? 1 : 0);
    QVERIFY(m_sim->receivedFiles().isEmpty());

    m_sim->setSilent(false, silenced);
    QVERIFY(m_client->request(AR_CMD_SENDFILE_END, 4));
}

void TestDeviceSimulator::replyDelay_answersNoSooner()
{
    constexpr int DelayMs = 400;
    m_sim->setReplyDelay(DelayMs);
    QElapsedTimer clock;
    clock.start();
    m_client->send(AR_COMMAND_FIND_DEVICE, 1);
    m_client->send(AR_CMD_UPGRADE_STATUS, 2);
    const QList<ReceivedFrame> replies = m_client->receive(2);
    QVERIFY(clock.elapsed() >= DelayMs);
    QCOMPARE(replies.size(), 2);
    QCOMPARE(replies.at(0).header.seq, 1u);
    QCOMPARE(replies.at(1).header.seq, 2u);
}

void TestDeviceSimulator::mangledReplies_stillReassemble_data()
{
    QTest::addColumn<int>("garbage");
    QTest::addColumn<bool>("split");
    QTest::addColumn<bool>("duplicate");
    QTest::newRow("noise before") << 50 << false << false;
    QTest::newRow("split") << 0 << true << false;
    QTest::newRow("twice in one write") << 0 << false << true;
    QTest::newRow("all at once") << 37 << true << true;
}

void TestDeviceSimulator::mangledReplies_stillReassemble()
{
    QFETCH(int, garbage);
    QFETCH(bool, split);
    QFETCH(bool, duplicate);
    m_sim->setGarbageBeforeReplies(garbage);
    m_sim->setSplitReplies(split);
    m_sim->setDuplicateReplies(duplicate);
    const int copies = duplicate ? 2 : 1;

    m_client->send(AR_COMMAND_FIND_DEVICE, 77);
    const QList<ReceivedFrame> replies = m_client->receive(copies);
    QCOMPARE(replies.size(), copies);
    for (const ReceivedFrame &reply : replies) {
        QCOMPARE(reply.header.seq, 77u);
        QCOMPARE(QByteArray(recordOf<ar_device_info>(reply).firmwareInfo),
                 DeviceIdentity().firmware);
    }
    QVERIFY(m_client->receive(1, SimClient::SilenceWaitMs).isEmpty());
    QCOMPARE(m_client->bytesRead(),
             qint64(copies * (garbage + ProtocolFrame::HeaderSize + DeviceInfoBytes)));
    if (split)
        QVERIFY(m_client->reads() > 1);
    else if (duplicate)
        QCOMPARE(m_client->mostFramesInOneRead(), 2);
}
