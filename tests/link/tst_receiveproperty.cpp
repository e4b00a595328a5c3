#include "frameassembler.h"
#include "protocolframe.h"

#include <QRandomGenerator>
#include <QtTest>
#include <iterator>
#include <random>

// Random streams of valid frames between garbage, cut into random reads: the
// receive side must give back exactly the frames that were sent. Each case
// has its own generator, seeded with the run's seed and the case number, so
// a failure names the case to replay; TAVIO_PROPERTY_SEED tries another seed.
namespace {
constexpr quint32 DefaultSeed = 0x7AD10C0Du;
constexpr int Cases = 5000;
constexpr int MaxFramesPerCase = 20;
constexpr int MaxPayloadBytes = 600;
constexpr int MaxGarbageBytes = 80;
constexpr int ReadLimits[] = {1, 2, 7, 36, 64, 700, 4096, INT_MAX}; // largest piece of one read
// Garbage never holds the magic's first byte, so it can neither contain a
// magic number nor end in the start of one.
constexpr char MagicFirstByte = char(AR_PROTOCOL_MAGIC & 0xFF);
const quint32 Commands[] = {0, AR_COMMAND_GET_ACTIVE, AR_COMMAND_FIND_DEVICE, AR_CMD_REMOTE_UPGRADE,
                            AR_CMD_SENDFILE_START, AR_CMD_SENDFILE_DATA, AR_CMD_SENDFILE_END,
                            AR_CMD_UPGRADE_STATUS, AR_COMMAND_SEND_TEXT, AR_CMD_ACK};

quint32 runSeed()
{
    bool ok = false;
    const quint32 seed = qgetenv("TAVIO_PROPERTY_SEED").toUInt(&ok, 0);
    return ok ? seed : DefaultSeed;
}

struct Stream : QRandomGenerator
{
    Stream(quint32 seed, int caseIndex)
    {
        std::seed_seq words{seed, quint32(caseIndex)};
        QRandomGenerator::seed(words);
    }
    QByteArray bytes(int size, bool garbage)
    {
        QByteArray out(size, Qt::Uninitialized);
        for (char &byte : out) {
            do {
                byte = char(bounded(256));
            } while (garbage && byte == MagicFirstByte);
        }
        return out;
    }
    void maybeGarbage(QByteArray *stream)
    {
        if (bounded(2) == 0)
            stream->append(bytes(bounded(1, MaxGarbageBytes + 1), true));
    }
    QByteArray anyFrame()
    {
        const quint32 command = bounded(4) == 0 ? generate() : Commands[bounded(int(std::size(Commands)))];
        return ProtocolFrame::encode(command, quint16(bounded(AR_MSGTYPE_REQUEST, AR_MSGTYPE_NON + 1)),
                                     generate(), quint32(bounded(4)),
                                     bytes(bounded(MaxPayloadBytes + 1), false));
    }
    QList<QByteArray> reads(const QByteArray &stream)
    {
        const int limit = qMin(stream.size(), ReadLimits[bounded(int(std::size(ReadLimits)))]);
        QList<QByteArray> out;
        for (int offset = 0; offset < stream.size();) {
            const int size = bounded(1, limit + 1);
            out.append(stream.mid(offset, size));
            offset += size;
        }
        return out;
    }
};

QByteArray describe(quint32 seed, int caseIndex, const QString &what)
{
    return QStringLiteral("seed 0x%1, case %2: %3").arg(seed, 0, 16).arg(caseIndex).arg(what).toUtf8();
}
} // namespace

class TestReceiveProperty : public QObject
{
    Q_OBJECT

private slots:
    void framesBetweenGarbageInRandomReads_comeOutExactlyAsSent();
};

void TestReceiveProperty::framesBetweenGarbageInRandomReads_comeOutExactlyAsSent()
{
    const quint32 seed = runSeed();
    for (int caseIndex = 0; caseIndex < Cases; ++caseIndex) {
        Stream generator(seed, caseIndex);
        QList<QByteArray> sent;
        QByteArray stream;
        for (int i = generator.bounded(1, MaxFramesPerCase + 1); i > 0; --i) {
            generator.maybeGarbage(&stream);
            sent.append(generator.anyFrame());
            stream.append(sent.last());
        }
        const int framesEnd = stream.size();
        generator.maybeGarbage(&stream);

        FrameAssembler assembler(FrameAssembler::Logging::Quiet);
        QList<QByteArray> received;
        for (const QByteArray &read : generator.reads(stream)) {
            for (const ReceivedFrame &frame : assembler.feed(read))
                received.append(ProtocolFrame::headerBytes(frame.header) + frame.payload);
        }
        QVERIFY2(received == sent, describe(seed, caseIndex, QStringLiteral("%1 frames sent, %2 received")
                                                                 .arg(sent.size()).arg(received.size())));
        // Nothing of a frame is left over; at most the trailing garbage waits.
        const int trailing = stream.size() - framesEnd;
        QVERIFY2(assembler.bufferedBytes() <= qMin(trailing, ProtocolFrame::HeaderSize - 1),
                 describe(seed, caseIndex, QStringLiteral("%1 bytes left").arg(assembler.bufferedBytes())));
    }
}

QTEST_APPLESS_MAIN(TestReceiveProperty)
#include "tst_receiveproperty.moc"
