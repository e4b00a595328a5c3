#include "frameassembler.h"
#include "protocolframe.h"

#include <QRandomGenerator>
#include <QtTest>
#include <iterator>
#include <random>

namespace {
QByteArray frame(quint32 command, quint32 seq, const QByteArray &payload = QByteArray())
{
    return ProtocolFrame::encode(command, AR_MSGTYPE_ACK, seq, 0, payload);
}

QByteArray withLength(QByteArray frame, quint32 length)
{
    std::memcpy(frame.data() + offsetof(ar_protocol_t, length), &length, sizeof(length));
    return frame;
}

// Random streams of valid frames between garbage, cut into random reads: the receive side must give back exactly
// the frames that were sent. Each case has its own generator, seeded with the run's seed and the case number, so a
// failure names the case to replay; TAVIO_PROPERTY_SEED tries another seed.
constexpr quint32 DefaultSeed = 0x7AD10C0Du;
constexpr int Cases = 5000;
constexpr int MaxFramesPerCase = 20;
constexpr int MaxPayloadBytes = 600;
constexpr int MaxGarbageBytes = 80;
constexpr int ReadLimits[] = {1, 2, 7, 36, 64, 700, 4096, INT_MAX}; // largest piece of one read
// Garbage never holds the magic's first byte, so it can neither contain a magic number nor end in the start of one.
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

// Frames on the wire: their bytes, then their assembly from what the port reads.
class TestFrameAssembler : public QObject
{
    Q_OBJECT

private slots:
    // Frames as they must appear on the wire, CRC included: the CRC runs over the header with its crc32 field
    // zeroed and every other field (retry too) final, then on over the payload.
    void frame_matchesWireBytes_data()
    {
        QTest::addColumn<quint32>("command");
        QTest::addColumn<quint32>("seq");
        QTest::addColumn<quint32>("retry");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("hexHeader");
        QTest::newRow("device query") << quint32(AR_COMMAND_FIND_DEVICE) << 0u << 0u << QByteArray()
            << QByteArray("4F545241 DC0C 0100 CDAB 0000 3C000000 0200 0000 00000000 00000000 00000000 42E0BB35");
        QTest::newRow("device query, retry 1") << quint32(AR_COMMAND_FIND_DEVICE) << 0u << 1u << QByteArray()
            << QByteArray("4F545241 DC0C 0100 CDAB 0000 3C000000 0200 0000 00000000 00000000 01000000 DCE011F9");
        QTest::newRow("reboot request with payload") << quint32(AR_COMMAND_GET_ACTIVE) << 7u << 2u
            << QByteArray("clean").leftJustified(32, '\0')
            << QByteArray("4F545241 DC0C 0100 CDAB 0000 03000000 0200 0000 20000000 07000000 02000000 9B1956AE");
    }

    void frame_matchesWireBytes()
    {
        QFETCH(quint32, command);
        QFETCH(quint32, seq);
        QFETCH(quint32, retry);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, hexHeader);
        const QByteArray header = QByteArray::fromHex(hexHeader);
        const QByteArray wire = header + payload;
        QCOMPARE(ProtocolFrame::encode(command, AR_MSGTYPE_REQUEST, seq, retry, payload).toHex(' '),
                 wire.toHex(' '));

        ar_protocol_t sealed = ProtocolFrame::makeHeader(command, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                                         quint32(payload.size()), seq);
        ProtocolFrame::seal(&sealed, retry, payload.isEmpty() ? nullptr : payload.constData(),
                            quint32(payload.size()));
        QCOMPARE(ProtocolFrame::headerBytes(sealed).toHex(' '), header.toHex(' '));
        QVERIFY(ProtocolFrame::crcMatches(ProtocolFrame::decodeHeader(wire.constData()),
                                          payload.constData(), quint32(payload.size())));
        // The last byte (the CRC's or the payload's) changed: no longer a match.
        QByteArray damaged = wire;
        damaged[damaged.size() - 1] = char(damaged.back() ^ 0x01);
        QVERIFY(!ProtocolFrame::crcMatches(ProtocolFrame::decodeHeader(damaged.constData()),
                                           damaged.constData() + ProtocolFrame::HeaderSize,
                                           quint32(payload.size())));
    }

    // The CRC-32 check value, over one run and over two runs split anywhere; a
    // null run is skipped whatever length comes with it.
    void crc_checkValueSplitAnywhere_data()
    {
        QTest::addColumn<int>("split");
        for (int split = 0; split <= 9; ++split)
            QTest::addRow("split at %d", split) << split;
    }

    void crc_checkValueSplitAnywhere()
    {
        QFETCH(int, split);
        const char digits[] = "123456789";
        const quint32 rest = quint32(9 - split);
        QCOMPARE(ProtocolFrame::crc32(digits, 9), 0xCBF43926u);
        QCOMPARE(ProtocolFrame::crc32(digits, quint32(split), digits + split, rest), 0xCBF43926u);
        QCOMPARE(ProtocolFrame::crc32(nullptr, quint32(split), digits, 9), 0xCBF43926u);
        QCOMPARE(ProtocolFrame::crc32(digits, 9, nullptr, quint32(split)), 0xCBF43926u);
    }

    void readRecord_missingBytesReadAsZero_data()
    {
        QTest::addColumn<int>("available");
        QTest::newRow("nothing") << 0;
        QTest::newRow("half the detail") << 40;
        QTest::newRow("whole record") << 72;
        QTest::newRow("more than the record") << 100;
    }

    void readRecord_missingBytesReadAsZero()
    {
        QFETCH(int, available);
        // Exactly `available` bytes on the heap, so ASan catches any read past them.
        std::unique_ptr<char[]> exact(new char[size_t(qMax(available, 1))]);
        std::memset(exact.get(), 0x7f, size_t(available));

        const auto status = ProtocolFrame::readRecord<ar_upgrade_status>(exact.get(), available);
        const auto *raw = reinterpret_cast<const unsigned char *>(&status);
        for (int i = 0; i < int(sizeof(status)); ++i)
            QCOMPARE(int(raw[i]), i < available ? 0x7f : 0);
    }

    void reads_yieldTheFramesTheyHold_data()
    {
        QTest::addColumn<QByteArrayList>("reads");
        QTest::addColumn<QList<quint32>>("seqs");
        QTest::addColumn<int>("buffered"); // bytes left waiting afterwards

        const auto row = [](const char *name, const QByteArrayList &reads, const QList<quint32> &seqs,
                            int buffered) { QTest::newRow(name) << reads << seqs << buffered; };
        const QByteArray status = frame(118, 2, QByteArray(72, 'a'));
        const QByteArray query = frame(60, 7);
        row("a partial magic first", {QByteArray("\x4F\x54\x52") + query}, {7}, 0);
        row("35 bytes without magic wait", {QByteArray(35, '\x11')}, {}, 35);
        row("36 bytes without magic go", {QByteArray(36, '\x11')}, {}, 0);
        row("length one past the largest frame",
            {withLength(frame(118, 1), FrameAssembler::MaxPayloadBytes + 1) + status}, {2}, 0);
        row("length that wraps a signed sum", {withLength(frame(118, 1), 0x7FFFFFFFu - 35) + status}, {2}, 0);
        row("length that wraps below the header size", {withLength(frame(118, 1), 0xFFFFFFF0u) + status},
            {2}, 0);
        row("bytes after a frame wait", {frame(116, 3, "abc") + "tail"}, {3}, 4);
    }

    // Every frame is cut whole, with exactly the payload its header announces, from the bytes that were fed. Frames
    // after garbage, several in one read and reads of any size down to one byte are the random streams' below.
    void reads_yieldTheFramesTheyHold()
    {
        QFETCH(QByteArrayList, reads);
        QFETCH(QList<quint32>, seqs);
        QFETCH(int, buffered);
        FrameAssembler assembler(FrameAssembler::Logging::Quiet);
        const QByteArray fed = reads.join();
        QList<quint32> cut;
        for (const QByteArray &read : reads) {
            for (const ReceivedFrame &f : assembler.feed(read)) {
                QCOMPARE(quint32(f.payload.size()), f.header.length);
                QVERIFY(fed.contains(ProtocolFrame::headerBytes(f.header) + f.payload));
                cut.append(f.header.seq);
            }
        }
        QCOMPARE(cut, seqs);
        QCOMPARE(assembler.bufferedBytes(), buffered);
    }

    void framesBetweenGarbageInRandomReads_comeOutExactlyAsSent()
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
};

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
