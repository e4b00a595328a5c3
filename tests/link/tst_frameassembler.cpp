#include "frameassembler.h"
#include "protocolframe.h"

#include <QtTest>

namespace {
QByteArray frame(quint32 command, quint32 seq, const QByteArray &payload = QByteArray())
{
    return ProtocolFrame::encode(command, AR_MSGTYPE_ACK, seq, 0, payload);
}

QList<quint32> seqs(const QList<ReceivedFrame> &frames)
{
    QList<quint32> out;
    for (const ReceivedFrame &f : frames)
        out.append(f.header.seq);
    return out;
}
} // namespace

class TestFrameAssembler : public QObject
{
    Q_OBJECT

private slots:
    void twoFramesInOneRead_areBothCut();
    void frameSplitOverReads_isCutWhenItsLastByteArrives();
    void garbageBeforeFrame_isSkipped_data();
    void garbageBeforeFrame_isSkipped();
    void noMagic_clearsLongBuffersAndKeepsShortOnes_data();
    void noMagic_clearsLongBuffersAndKeepsShortOnes();
    void magicSplitAcrossReadsAfterGarbage_isNotLost();
    void impossibleLength_isSkippedLikeGarbage_data();
    void impossibleLength_isSkippedLikeGarbage();
    void payloadIsExactlyTheFrameLength();
};

void TestFrameAssembler::twoFramesInOneRead_areBothCut()
{
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    const auto frames = assembler.feed(frame(60, 1) + frame(118, 2, QByteArray(72, 'a')));
    QCOMPARE(seqs(frames), (QList<quint32>{1, 2}));
    QCOMPARE(frames.at(1).payload, QByteArray(72, 'a'));
    QCOMPARE(assembler.bufferedBytes(), 0);
}

void TestFrameAssembler::frameSplitOverReads_isCutWhenItsLastByteArrives()
{
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    const QByteArray bytes = frame(117, 5, QByteArray(80, 'v'));
    for (int i = 0; i < bytes.size() - 1; ++i)
        QVERIFY(assembler.feed(bytes.mid(i, 1)).isEmpty());
    QCOMPARE(seqs(assembler.feed(bytes.right(1))), QList<quint32>{5});
}

void TestFrameAssembler::garbageBeforeFrame_isSkipped_data()
{
    QTest::addColumn<QByteArray>("garbage");
    QTest::newRow("three bytes") << QByteArray("\x01\x02\x03", 3);
    QTest::newRow("a partial magic") << QByteArray("\x4F\x54\x52", 3);
    QTest::newRow("longer than a header") << QByteArray(50, '\x55');
}

void TestFrameAssembler::garbageBeforeFrame_isSkipped()
{
    QFETCH(QByteArray, garbage);
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    QCOMPARE(seqs(assembler.feed(garbage + frame(60, 7))), QList<quint32>{7});
}

void TestFrameAssembler::noMagic_clearsLongBuffersAndKeepsShortOnes_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("kept");
    QTest::newRow("35 bytes wait") << 35 << 35;
    QTest::newRow("36 bytes cleared") << 36 << 0;
    QTest::newRow("100 bytes cleared") << 100 << 0;
}

void TestFrameAssembler::noMagic_clearsLongBuffersAndKeepsShortOnes()
{
    QFETCH(int, size);
    QFETCH(int, kept);
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    QVERIFY(assembler.feed(QByteArray(size, '\x11')).isEmpty());
    QCOMPARE(assembler.bufferedBytes(), kept);
}

void TestFrameAssembler::magicSplitAcrossReadsAfterGarbage_isNotLost()
{
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    const QByteArray bytes = frame(3, 4);
    QVERIFY(assembler.feed(QByteArray(40, '\x22') + bytes.left(2)).isEmpty());
    QCOMPARE(seqs(assembler.feed(bytes.mid(2))), QList<quint32>{4});
}

void TestFrameAssembler::impossibleLength_isSkippedLikeGarbage_data()
{
    QTest::addColumn<quint32>("length");
    QTest::newRow("one past the largest frame") << FrameAssembler::MaxPayloadBytes + 1;
    QTest::newRow("wraps a signed sum") << quint32(0x7FFFFFFF - 35);
    QTest::newRow("wraps below the header size") << 0xFFFFFFF0u;
}

void TestFrameAssembler::impossibleLength_isSkippedLikeGarbage()
{
    QFETCH(quint32, length);
    QByteArray bad = frame(118, 1);
    std::memcpy(bad.data() + 20, &length, sizeof(length));
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    QCOMPARE(seqs(assembler.feed(bad + frame(118, 2, QByteArray(72, 0)))), QList<quint32>{2});
    QCOMPARE(assembler.bufferedBytes(), 0);
}

void TestFrameAssembler::payloadIsExactlyTheFrameLength()
{
    FrameAssembler assembler(FrameAssembler::Logging::Quiet);
    const auto frames = assembler.feed(frame(116, 3, "abc") + "tail");
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().payload, QByteArray("abc"));
    QCOMPARE(assembler.bufferedBytes(), 4);
}

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "tst_frameassembler.moc"
