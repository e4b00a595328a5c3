#include "fixedportlister.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "pseudoterminal.h"
#include "serialportchannel.h"
#include "simulateddevice.h"
#include "testbytes.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <unistd.h>

namespace {
constexpr unsigned ShortAckMs = 100;

qint32 send(UsbVirtualSerial &link, quint32 command, unsigned transmissions = 5,
            unsigned timeoutMs = ShortAckMs, QByteArray payload = QByteArray())
{
    return link.commandSerialSend(command, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                  payload.isNull() ? nullptr : payload.data(),
                                  unsigned(payload.size()), transmissions, timeoutMs);
}

QList<quint32> retries(const QList<SimFrameRecord> &frames)
{
    QList<quint32> out;
    for (const SimFrameRecord &frame : frames)
        out.append(frame.retry);
    return out;
}

// What the pty master reads within `timeoutMs`, up to `expected` bytes.
QByteArray drain(int fd, int expected, int timeoutMs = 2000)
{
    QByteArray bytes;
    QDeadlineTimer deadline(timeoutMs);
    while (bytes.size() < expected && !deadline.hasExpired()) {
        char chunk[256];
        const ssize_t n = ::read(fd, chunk, sizeof(chunk));
        if (n > 0)
            bytes.append(chunk, int(n));
        else
            QThread::msleep(5);
    }
    return bytes;
}
} // namespace

class TestCommandSend : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_log.reset(new LogCapture);
        m_device.reset(new SimulatedDevice);
        QVERIFY(m_device->start() && m_device->open());
    }
    void cleanup() { m_device.reset(); m_log.reset(); }

    // Each transmission that goes unanswered waits out its timeout, a refusal
    // ends its wait at once; either way the next one follows, up to the count.
    void missingAcks_costOneTransmissionEach_data()
    {
        QTest::addColumn<QString>("fault"); // silent: never answered; else the first ones refused or lost
        QTest::addColumn<unsigned>("transmissions");
        QTest::addColumn<unsigned>("timeoutMs");
        QTest::addColumn<QList<quint32>>("retries");
        QTest::newRow("silent, five") << "silent" << 5u << ShortAckMs << QList<quint32>{0, 1, 2, 3, 4};
        QTest::newRow("silent, one") << "silent" << 1u << ShortAckMs << QList<quint32>{0};
        QTest::newRow("silent, zero counts as one") << "silent" << 0u << ShortAckMs << QList<quint32>{0};
        QTest::newRow("two refused") << "refused" << 5u << 3000u << QList<quint32>{0, 1, 2};
        QTest::newRow("three lost") << "lost" << 5u << ShortAckMs << QList<quint32>{0, 1, 2, 3};
    }

    void missingAcks_costOneTransmissionEach()
    {
        QFETCH(QString, fault);
        QFETCH(unsigned, transmissions);
        QFETCH(unsigned, timeoutMs);
        QFETCH(QList<quint32>, retries);
        UsbVirtualSerial &link = *m_device->link;
        const bool silent = fault == QLatin1String("silent");
        const int faults = retries.size() - 1;
        m_device->sim.setSilent(silent);
        if (fault == QLatin1String("refused"))
            m_device->sim.refuseNext(faults, AR_CMD_SENDFILE_DATA);
        else if (fault == QLatin1String("lost"))
            m_device->sim.dropNextAcks(faults, AR_CMD_SENDFILE_DATA);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(send(link, AR_CMD_SENDFILE_DATA, transmissions, timeoutMs, QByteArray(100, 'd')), silent ? -1 : 0);
        const qint64 waited = timer.elapsed();
        if (fault == QLatin1String("refused"))
            QVERIFY2(waited < timeoutMs, qPrintable(QString::number(waited)));
        else
            QVERIFY(waited >= (silent ? retries.size() : faults) * qint64(timeoutMs));
        QTRY_COMPARE(::retries(m_device->sim.frames()), retries);
        if (!silent)
            return;
        QCOMPARE(link.sequenceNumber(), 0u);
        m_device->sim.setSilent(false);
        QCOMPARE(send(link, AR_CMD_SENDFILE_DATA, transmissions), 0);
        QCOMPARE(m_device->sim.frames().last().seq, 0u); // the failed number is used again
    }

    // The acknowledgement wait counts from the moment the frame goes to the port:
    // a link thread kept busy for longer than the wait costs no transmission.
    void busyLinkThread_doesNotShortenTheAcknowledgementWait()
    {
        UsbVirtualSerial &link = *m_device->link;
        auto *busy = new QObject;
        busy->moveToThread(link.portThread());
        QMetaObject::invokeMethod(busy, [] { QThread::msleep(3 * ShortAckMs); }, Qt::QueuedConnection);
        QCOMPARE(send(link, AR_CMD_UPGRADE_STATUS, 1, ShortAckMs), 0);
        busy->deleteLater();
        QCOMPARE(retries(m_device->sim.frames()), QList<quint32>{0});
    }

    void replyShapes_stillAcknowledge_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::newRow("garbage before replies") << "garbage";
        QTest::newRow("replies split over writes") << "split";
    }

    void replyShapes_stillAcknowledge()
    {
        QFETCH(QString, shape);
        if (shape == QLatin1String("garbage"))
            m_device->sim.setGarbageBeforeReplies(50);
        else
            m_device->sim.setSplitReplies(true);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(send(*m_device->link, AR_COMMAND_FIND_DEVICE, 1, 1000), 0);
        QCOMPARE(m_device->sim.frames().size(), 5);
        QCOMPARE(m_device->link->sequenceNumber(), 5u);
    }

    // The late reply is a status report: its signal tells that it arrived, and
    // a call on the port's thread that it has been recorded.
    void lateReplyToAFailedRequest_doesNotAcknowledgeTheNext()
    {
        QSignalSpy late(m_device->link.get(), &UsbVirtualSerial::sig_sendUpgradeProcess);
        m_device->sim.setReplyDelay(300);
        QCOMPARE(send(*m_device->link, AR_CMD_UPGRADE_STATUS, 1, 50), -1);
        QVERIFY(late.wait());
        m_device->link->unreadBytes();
        m_device->sim.setSilent(true);
        QCOMPARE(send(*m_device->link, AR_CMD_SENDFILE_START, 1, 100), -1);
    }

    // Sequence numbers run past 16 bits through a stream of frames, and a
    // plain request goes on from where the stream left them.
    void sequenceNumbersBeyond16Bits_areStillAcknowledged()
    {
        UsbVirtualSerial &link = *m_device->link;
        constexpr qint64 Past16Bits = 65537;
        constexpr qint64 Batch = 4096;
        // A late acknowledgement on a busy machine is met by a retransmission
        // under the same number, which this test does not mind.
        const auto stream = link.openFrameQueue(AR_CMD_UPGRADE_STATUS, 3, 2000, {});
        for (qint64 sent = 0; sent < Past16Bits;) {
            m_device->sim.clearFrames(); // keep the records and the log small
            LogCapture::clear();
            const qint64 batch = qMin(Batch, Past16Bits - sent);
            for (qint64 i = 0; i < batch; ++i)
                stream->append(QByteArray());
            sent += batch;
            if (!stream->waitAcknowledged(sent))
                QFAIL(qPrintable(QStringLiteral("frames to %1 not acknowledged").arg(sent)));
        }
        QCOMPARE(link.sequenceNumber(), quint32(Past16Bits));
        QCOMPARE(m_device->sim.frames().last().seq, quint32(Past16Bits) - 1);
        QCOMPARE(send(link, AR_CMD_UPGRADE_STATUS, 3, 2000), 0);
        QCOMPARE(m_device->sim.frames().last().seq, quint32(Past16Bits));
    }

    // A stream writes each frame on its predecessor's acknowledgement, on the
    // port's thread: all of them go out before the sender waits for any.
    // Each is retransmitted as a request is; one that fails ends the stream
    // there, and its number is used again by the next request.
    void frameStream_sendsEachOnItsPredecessorsAcknowledgement_data()
    {
        QTest::addColumn<QString>("fault"); // as above, on the stream's first frame
        QTest::addColumn<int>("payloadSize");
        QTest::addColumn<QList<quint32>>("retries"); // of every transmission, in order
        constexpr int Frames = 6;
        const QList<quint32> once = QVector<quint32>(Frames, 0).toList();
        QTest::newRow("clean") << "" << 1024 << once;
        QTest::newRow("empty frames") << "" << 0 << once;
        QTest::newRow("frames larger than the port takes at once") << "" << 1048576 << once;
        QTest::newRow("two refused") << "refused" << 1024 << QList<quint32>{0, 1, 2} + once.mid(1);
        QTest::newRow("three lost") << "lost" << 1024 << QList<quint32>{0, 1, 2, 3} + once.mid(1);
        QTest::newRow("silent") << "silent" << 1024 << QList<quint32>{0, 1, 2, 3, 4};
    }

    void frameStream_sendsEachOnItsPredecessorsAcknowledgement()
    {
        QFETCH(QString, fault);
        QFETCH(int, payloadSize);
        QFETCH(QList<quint32>, retries);
        constexpr int Frames = 6;
        UsbVirtualSerial &link = *m_device->link;
        QCOMPARE(send(link, AR_CMD_SENDFILE_START), 0); // the stream numbers on from here
        m_device->sim.clearFrames();
        const bool silent = fault == QLatin1String("silent");
        m_device->sim.setSilent(silent);
        if (fault == QLatin1String("refused"))
            m_device->sim.refuseNext(2, AR_CMD_SENDFILE_DATA);
        else if (fault == QLatin1String("lost"))
            m_device->sim.dropNextAcks(3, AR_CMD_SENDFILE_DATA);

        QList<QByteArray> payloads;
        for (int i = 0; i < Frames; ++i)
            payloads.append(TestBytes::pattern(payloadSize, i));
        const auto stream = link.openFrameQueue(AR_CMD_SENDFILE_DATA, 5, ShortAckMs * (payloadSize > 4096 ? 20 : 1), {});
        for (const QByteArray &payload : qAsConst(payloads))
            stream->append(payload);
        QTRY_COMPARE_WITH_TIMEOUT(::retries(m_device->sim.frames()), retries, 20000);
        QCOMPARE(stream->waitAcknowledged(Frames), !silent);
        QCOMPARE(link.sequenceNumber(), silent ? 1u : 1u + Frames);
        const auto frames = m_device->sim.frames();
        for (const SimFrameRecord &frame : frames) {
            const quint32 index = frame.seq - 1;
            QVERIFY(frame.crcValid);
            QCOMPARE(frame.command, quint32(AR_CMD_SENDFILE_DATA));
            QVERIFY(index < quint32(Frames) && frame.payload == payloads.at(int(index)));
        }
        m_device->sim.setSilent(false);
        QCOMPARE(send(link, AR_CMD_UPGRADE_STATUS), 0);
        QCOMPARE(m_device->sim.frames().last().seq, link.sequenceNumber() - 1);
    }

    // A sender whose run flag goes false, or a port that closes, ends the
    // stream at once: the frame in flight is the last one written.
    void frameStream_endsAtOnce_data()
    {
        QTest::addColumn<bool>("portCloses"); // else the run flag goes false
        QTest::newRow("run flag") << false;
        QTest::newRow("port closed") << true;
    }

    void frameStream_endsAtOnce()
    {
        QFETCH(bool, portCloses);
        UsbVirtualSerial &link = *m_device->link;
        std::atomic<bool> run{true};
        m_device->sim.setSilent(true);
        constexpr unsigned LongAckMs = 60000;
        const auto stream = link.openFrameQueue(AR_CMD_SENDFILE_DATA, 5, LongAckMs, [&run] { return run.load(); });
        for (int i = 0; i < 3; ++i)
            stream->append(QByteArray(100, 'd'));
        QTRY_COMPARE(m_device->sim.frames().size(), 1);
        QElapsedTimer timer;
        timer.start();
        if (portCloses) {
            link.closeSerialPort();
        } else {
            run.store(false);
            link.wakeRequestWaits();
        }
        QVERIFY(!stream->waitAcknowledged(3));
        QVERIFY2(timer.elapsed() < LongAckMs / 2, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(m_device->sim.frames().size(), 1);
    }

    // A frame the pty cannot take in one write leaves the rest to the port's thread; the sender waits for it to go
    // out, then for the acknowledgement, which may already have arrived. Repeated, so an acknowledgement that
    // overtakes the end of the write is met as well; the frame arrives whole.
    void frameLargerThanThePortTakesAtOnce_isAcknowledgedOnFirstTransmission()
    {
        constexpr int Sends = 12;
        constexpr int LargestFrame = 1048576;
        const QByteArray payload = TestBytes::pattern(LargestFrame);
        for (int i = 0; i < Sends; ++i)
            QCOMPARE(send(*m_device->link, AR_CMD_SENDFILE_DATA, 5, 2000, payload), 0);
        const auto frames = m_device->sim.frames();
        QCOMPARE(frames.size(), Sends);
        for (const SimFrameRecord &frame : frames) {
            QCOMPARE(frame.retry, 0u);
            QVERIFY(frame.crcValid);
            QVERIFY(frame.payload == payload);
        }
    }

    // Writes on a bare pty: the raw writers wait for no acknowledgement, the link's own acknowledgement is a sealed
    // header, and a request without payload bytes writes only its header but still announces the length.
    void barePty_writesGoOutAsGiven()
    {
        PseudoTerminal pty;
        QString error;
        QVERIFY2(pty.open(&error), qPrintable(error));
        UsbVirtualSerial link(std::make_shared<FixedPortLister>());
        QVERIFY(link.openSerialPort(pty.slavePath()));

        ar_protocol_t head = ProtocolFrame::makeHeader(AR_CMD_REMOTE_UPGRADE, 1, 2, 0, 0, 7);
        QCOMPARE(link.SerialSend_V1(head, nullptr, 0), qint64(ProtocolFrame::HeaderSize));
        QCOMPARE(drain(pty.masterFd(), ProtocolFrame::HeaderSize), ProtocolFrame::headerBytes(head));
        char payload[] = "raw";
        QCOMPARE(link.SerialSend(payload, 3), qint64(3));
        QCOMPARE(drain(pty.masterFd(), 3), QByteArray("raw"));
        link.sendAckResponse(42);
        QCOMPARE(drain(pty.masterFd(), ProtocolFrame::HeaderSize).toHex(' '),
                 ProtocolFrame::encode(AR_CMD_ACK, AR_MSGTYPE_ACK, 42, 0).toHex(' '));

        QCOMPARE(link.commandSerialSend(AR_CMD_SENDFILE_START, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                        nullptr, 28, 2, 50),
                 -1);
        const QByteArray wire = drain(pty.masterFd(), 2 * ProtocolFrame::HeaderSize + 1, 300);
        QCOMPARE(wire.size(), 2 * ProtocolFrame::HeaderSize); // nothing follows either header
        const ar_protocol_t second = ProtocolFrame::decodeHeader(wire.constData() + ProtocolFrame::HeaderSize);
        QCOMPARE(second.length, 28u);
        QCOMPARE(second.retry, 1u);
    }

    // The device hangs up before the port has noticed: the write itself finds the
    // port gone. Its bytes never reached the device, and whoever waits for them
    // learns so at once instead of after the write-completion timeout.
    void portLostInsideAWrite_settlesThatWriteAtOnce()
    {
        PseudoTerminal pty;
        QString error;
        QVERIFY2(pty.open(&error), qPrintable(error));
        SerialPortChannel channel;
        QVERIFY(channel.open(pty.slavePath()));
        pty.close();
        quint64 mark = 0;
        channel.write(QByteArray(4096, 'x'), &mark);
        QVERIFY(!channel.isOpen());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!channel.waitUntilWritten(mark, 20000));
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
private:
    std::unique_ptr<SimulatedDevice> m_device;
    std::unique_ptr<LogCapture> m_log;
};


QTEST_GUILESS_MAIN(TestCommandSend)
#include "tst_commandsend.moc"
