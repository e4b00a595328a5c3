#include "fixedportlister.h"
#include "frameassembler.h"
#include "logcapture.h"
#include "protocolframe.h"
#include "usbvirtualserial.h"

#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

#include <iterator>
#include <random>

// Random streams of valid frames between garbage, cut into random reads: the
// receive side must give back exactly the frames that were sent.
//
// Every case draws from its own generator, seeded with the run's seed and the
// case number, so a failure names the one case to replay. The seed is fixed;
// TAVIO_PROPERTY_SEED (decimal or 0x-hex) tries another one.

namespace {

constexpr quint32 DefaultSeed = 0x7AD10C0Du;
constexpr int Cases = 5000;
constexpr int MaxFramesPerCase = 20;
constexpr int MaxPayloadBytes = 600;
constexpr int MaxGarbageBytes = 80;
constexpr int MaxRetry = 3;
// Read sizes: most cases read in pieces of up to one of these sizes, a few
// byte by byte, some all at once.
constexpr int ReadLimits[] = {2, 7, 36, 64, 700, 4096};
constexpr int ByteByByteOneIn = 50;
constexpr int GarbageOneIn = 2;
constexpr int UnknownCommandOneIn = 4;
constexpr int ByteValues = 256;
constexpr int FullPercent = 100;
constexpr int WholeStreamOneIn = 10;
constexpr int StatusRepliesThroughLink = 200;
// Garbage never holds the magic's first byte on the wire, so it can neither
// contain a magic number nor end in the start of one.
constexpr char MagicFirstByte = char(AR_PROTOCOL_MAGIC & 0xFF);

const quint32 Commands[] = {0, AR_COMMAND_GET_ACTIVE, AR_COMMAND_FIND_DEVICE, AR_CMD_REMOTE_UPGRADE,
                            AR_CMD_SENDFILE_START, AR_CMD_SENDFILE_DATA, AR_CMD_SENDFILE_END,
                            AR_CMD_UPGRADE_STATUS, AR_COMMAND_SEND_TEXT, AR_CMD_ACK};

quint32 runSeed()
{
    const QByteArray text = qgetenv("TAVIO_PROPERTY_SEED");
    bool ok = false;
    const quint32 seed = text.toUInt(&ok, 0);
    return ok ? seed : DefaultSeed;
}

// Draws the pieces of one case: frames, garbage and the reads that cut them.
class StreamGenerator
{
public:
    StreamGenerator(quint32 seed, int caseIndex)
    {
        std::seed_seq words{seed, quint32(caseIndex)};
        m_random.seed(words);
    }

    QRandomGenerator &random() { return m_random; }

    QByteArray garbage()
    {
        QByteArray bytes(m_random.bounded(1, MaxGarbageBytes + 1), Qt::Uninitialized);
        for (char &byte : bytes) {
            do {
                byte = char(m_random.bounded(ByteValues));
            } while (byte == MagicFirstByte);
        }
        return bytes;
    }

    QByteArray payload(int size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(m_random.bounded(ByteValues));
        return bytes;
    }

    QByteArray anyFrame()
    {
        const bool unknownCommand = m_random.bounded(UnknownCommandOneIn) == 0;
        const quint32 command = unknownCommand
                ? m_random.generate()
                : Commands[m_random.bounded(int(std::size(Commands)))];
        const quint16 type = quint16(m_random.bounded(AR_MSGTYPE_REQUEST, AR_MSGTYPE_NON + 1));
        return ProtocolFrame::encode(command, type, m_random.generate(),
                                     quint32(m_random.bounded(MaxRetry + 1)),
                                     payload(m_random.bounded(MaxPayloadBytes + 1)));
    }

    // Adds garbage to some of the gaps between frames.
    void maybeGarbage(QByteArray *stream)
    {
        if (m_random.bounded(GarbageOneIn) == 0)
            stream->append(garbage());
    }

    // The stream cut into reads of random sizes.
    QList<QByteArray> reads(const QByteArray &stream)
    {
        int limit = ReadLimits[m_random.bounded(int(std::size(ReadLimits)))];
        if (m_random.bounded(ByteByByteOneIn) == 0)
            limit = 1;
        else if (m_random.bounded(WholeStreamOneIn) == 0)
            limit = stream.size();
        QList<QByteArray> out;
        for (int offset = 0; offset < stream.size();) {
            const int size = m_random.bounded(1, limit + 1);
            out.append(stream.mid(offset, size));
            offset += size;
        }
        return out;
    }

private:
    QRandomGenerator m_random;
};

QByteArray wireBytes(const ReceivedFrame &frame)
{
    return ProtocolFrame::headerBytes(frame.header) + frame.payload;
}

QString describe(quint32 seed, int caseIndex, const QString &what)
{
    return QStringLiteral("seed 0x%1, case %2: %3")
        .arg(seed, 8, 16, QLatin1Char('0'))
        .arg(caseIndex)
        .arg(what);
}

} // namespace

class TestReceiveProperty : public QObject
{
    Q_OBJECT

private slots:
    void framesBetweenGarbageInRandomReads_comeOutExactlyAsSent();
    void statusRepliesThroughTheLink_acknowledgeExactlyTheirSeqs();
};

void TestReceiveProperty::framesBetweenGarbageInRandomReads_comeOutExactlyAsSent()
{
    const quint32 seed = runSeed();
    for (int caseIndex = 0; caseIndex < Cases; ++caseIndex) {
        StreamGenerator generator(seed, caseIndex);
        QList<QByteArray> sent;
        QByteArray stream;
        const int frameCount = generator.random().bounded(1, MaxFramesPerCase + 1);
        for (int i = 0; i < frameCount; ++i) {
            generator.maybeGarbage(&stream);
            sent.append(generator.anyFrame());
            stream.append(sent.last());
        }
        const int beforeTrailingGarbage = stream.size();
        generator.maybeGarbage(&stream);
        const int trailingGarbage = stream.size() - beforeTrailingGarbage;

        FrameAssembler assembler(FrameAssembler::Logging::Quiet);
        QList<QByteArray> received;
        for (const QByteArray &read : generator.reads(stream)) {
            for (const ReceivedFrame &frame : assembler.feed(read))
                received.append(wireBytes(frame));
        }

        for (int i = 0; i < qMin(sent.size(), received.size()); ++i) {
            QVERIFY2(received.at(i) == sent.at(i),
                     qPrintable(describe(seed, caseIndex, QStringLiteral("frame %1 of %2 differs")
                                                              .arg(i).arg(sent.size()))));
        }
        QVERIFY2(received.size() == sent.size(),
                 qPrintable(describe(seed, caseIndex, QStringLiteral("%1 frames sent, %2 received")
                                                          .arg(sent.size()).arg(received.size()))));
        // Nothing of a frame is left over; at most the trailing garbage waits.
        QVERIFY2(assembler.bufferedBytes() <= qMin(trailingGarbage, ProtocolFrame::HeaderSize - 1),
                 qPrintable(describe(seed, caseIndex, QStringLiteral("%1 bytes left buffered")
                                                          .arg(assembler.bufferedBytes()))));
    }
}

void TestReceiveProperty::statusRepliesThroughTheLink_acknowledgeExactlyTheirSeqs()
{
    LogCapture log; // the link logs every read
    UsbVirtualSerial link(std::make_shared<FixedPortLister>());
    const quint32 seed = runSeed();
    StreamGenerator generator(seed, Cases);

    QSet<quint32> replied;
    QByteArray stream;
    while (replied.size() < StatusRepliesThroughLink) {
        const quint32 seq = generator.random().generate();
        if (replied.contains(seq))
            continue;
        replied.insert(seq);
        ar_upgrade_status status{};
        status.percent = generator.random().bounded(FullPercent + 1);
        status.status = STAT_IN_PROGRESS;
        generator.maybeGarbage(&stream);
        stream.append(ProtocolFrame::encode(AR_CMD_UPGRADE_STATUS, AR_MSGTYPE_ACK, seq, 0,
                                            ProtocolFrame::recordBytes(status)));
    }
    generator.maybeGarbage(&stream);
    for (const QByteArray &read : generator.reads(stream))
        link.receiveBytes(read);

    for (const quint32 seq : replied) {
        QVERIFY2(link.waitForACK(seq, 0),
                 qPrintable(describe(seed, Cases, QStringLiteral("seq %1 not acknowledged").arg(seq))));
    }
    int unrelatedChecked = 0;
    while (unrelatedChecked < StatusRepliesThroughLink) {
        const quint32 seq = generator.random().generate();
        if (replied.contains(seq))
            continue;
        ++unrelatedChecked;
        QVERIFY2(!link.waitForACK(seq, 0),
                 qPrintable(describe(seed, Cases, QStringLiteral("seq %1 acknowledged unasked").arg(seq))));
    }
}

QTEST_GUILESS_MAIN(TestReceiveProperty)
#include "tst_receiveproperty.moc"
