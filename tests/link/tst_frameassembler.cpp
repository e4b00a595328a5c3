#include "frameassembler.h"
#include "protocolframe.h"

#include <QtTest>

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

QByteArrayList bytewise(const QByteArray &bytes)
{
    QByteArrayList reads;
    for (const char byte : bytes)
        reads.append(QByteArray(1, byte));
    return reads;
}
} // namespace

class TestFrameAssembler : public QObject
{
    Q_OBJECT

private slots:
    void reads_yieldTheFramesTheyHold_data();
    void reads_yieldTheFramesTheyHold();
};

void TestFrameAssembler::reads_yieldTheFramesTheyHold_data()
{
    QTest::addColumn<QByteArrayList>("reads");
    QTest::addColumn<QList<quint32>>("seqs");
    QTest::addColumn<int>("buffered"); // bytes left waiting afterwards

    const auto row = [](const char *name, const QByteArrayList &reads, const QList<quint32> &seqs,
                        int buffered) { QTest::newRow(name) << reads << seqs << buffered; };
    const QByteArray status = frame(118, 2, QByteArray(72, 'a'));
    const QByteArray reboot = frame(3, 4);
    const QByteArray query = frame(60, 7);
    row("two frames in one read", {frame(60, 1) + status}, {1, 2}, 0);
    row("one byte per read", bytewise(frame(117, 5, QByteArray(80, 'v'))), {5}, 0);
    row("three bytes of garbage first", {QByteArray("\x01\x02\x03") + query}, {7}, 0);
    row("a partial magic first", {QByteArray("\x4F\x54\x52") + query}, {7}, 0);
    row("garbage longer than a header first", {QByteArray(50, '\x55') + query}, {7}, 0);
    row("magic split over reads after garbage",
        {QByteArray(40, '\x22') + reboot.left(2), reboot.mid(2)}, {4}, 0);
    row("35 bytes without magic wait", {QByteArray(35, '\x11')}, {}, 35);
    row("36 bytes without magic go", {QByteArray(36, '\x11')}, {}, 0);
    row("100 bytes without magic go", {QByteArray(100, '\x11')}, {}, 0);
    row("length one past the largest frame",
        {withLength(frame(118, 1), FrameAssembler::MaxPayloadBytes + 1) + status}, {2}, 0);
    row("length that wraps a signed sum", {withLength(frame(118, 1), 0x7FFFFFFFu - 35) + status}, {2}, 0);
    row("length that wraps below the header size", {withLength(frame(118, 1), 0xFFFFFFF0u) + status},
        {2}, 0);
    row("bytes after a frame wait", {frame(116, 3, "abc") + "tail"}, {3}, 4);
}

// Every frame is cut whole, with exactly the payload its header announces,
// from the bytes that were fed.
void TestFrameAssembler::reads_yieldTheFramesTheyHold()
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

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
