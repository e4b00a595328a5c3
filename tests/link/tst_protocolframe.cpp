#include "protocolframe.h"

#include <QtTest>

class TestProtocolFrame : public QObject
{
    Q_OBJECT

private slots:
    void deviceQuery_matchesWireBytes_data();
    void deviceQuery_matchesWireBytes();
    void crcCheckValue_singleRun();
    void crcCheckValue_twoRunsSplitAnywhere_data();
    void crcCheckValue_twoRunsSplitAnywhere();
    void crc_nullRunsAreSkipped();
    void crc_matchesBytewiseReference_data();
    void crc_matchesBytewiseReference();
    void crc_tableMatchesReflectedPolynomial();
    void payloadFrame_crcCoversHeaderThenPayload();
    void retransmission_differsOnlyInRetryAndCrc();
    void readRecord_missingBytesReadAsZero_data();
    void readRecord_missingBytesReadAsZero();
};

void TestProtocolFrame::deviceQuery_matchesWireBytes_data()
{
    QTest::addColumn<quint32>("retry");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("first transmission") << 0u << QByteArray::fromHex(
        "4F545241 DC0C 0100 CDAB 0000 3C000000 0200 0000 00000000 00000000 00000000 42E0BB35");
    QTest::newRow("second transmission") << 1u << QByteArray::fromHex(
        "4F545241 DC0C 0100 CDAB 0000 3C000000 0200 0000 00000000 00000000 01000000 DCE011F9");
}

void TestProtocolFrame::deviceQuery_matchesWireBytes()
{
    QFETCH(quint32, retry);
    QFETCH(QByteArray, wire);
    ar_protocol_t header = ProtocolFrame::makeHeader(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_REQUEST,
                                                     AR_FMT_BINARY, 0, 0, 0);
    ProtocolFrame::seal(&header, retry, nullptr, 0);
    QCOMPARE(ProtocolFrame::headerBytes(header).toHex(' '), wire.toHex(' '));
    QCOMPARE(ProtocolFrame::encode(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_REQUEST, 0, retry).toHex(' '),
             wire.toHex(' '));
    QVERIFY(ProtocolFrame::crcMatches(ProtocolFrame::decodeHeader(wire.constData()), nullptr, 0));
}

void TestProtocolFrame::crcCheckValue_singleRun()
{
    QCOMPARE(ProtocolFrame::crc32("123456789", 9), 0xCBF43926u);
    QCOMPARE(ProtocolFrame::crc32("", 0), 0u);
}

void TestProtocolFrame::crcCheckValue_twoRunsSplitAnywhere_data()
{
    QTest::addColumn<int>("split");
    for (int split = 0; split <= 9; ++split)
        QTest::newRow(qPrintable(QStringLiteral("split at %1").arg(split))) << split;
}

void TestProtocolFrame::crcCheckValue_twoRunsSplitAnywhere()
{
    QFETCH(int, split);
    const char digits[] = "123456789";
    QCOMPARE(ProtocolFrame::crc32(digits, quint32(split), digits + split, quint32(9 - split)),
             0xCBF43926u);
}

void TestProtocolFrame::crc_nullRunsAreSkipped()
{
    QCOMPARE(ProtocolFrame::crc32(nullptr, 5, "123456789", 9), 0xCBF43926u);
    QCOMPARE(ProtocolFrame::crc32("123456789", 9, nullptr, 7), 0xCBF43926u);
    QCOMPARE(ProtocolFrame::crc32(nullptr, 3, nullptr, 3), 0u);
}

void TestProtocolFrame::crc_matchesBytewiseReference_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("offset"); // of the data from an aligned address
    QTest::addColumn<int>("split");  // where the second run begins
    for (int length : {1, 7, 8, 9, 15, 16, 17, 36, 1024, 51200}) {
        for (int offset : {0, 1, 3, 7}) {
            QTest::addRow("%d bytes at +%d", length, offset) << length << offset << 0;
            QTest::addRow("%d bytes at +%d split", length, offset) << length << offset << length / 3;
        }
    }
}

// The folded loop against one byte at a time, on data where every byte counts.
void TestProtocolFrame::crc_matchesBytewiseReference()
{
    QFETCH(int, length);
    QFETCH(int, offset);
    QFETCH(int, split);
    QByteArray buffer(length + offset, Qt::Uninitialized);
    QRandomGenerator random(quint32(length * 8 + offset));
    for (char &byte : buffer)
        byte = char(random.bounded(256));
    const char *data = buffer.constData() + offset;

    quint32 table[256];
    ProtocolFrame::buildCrcTable(table);
    quint32 c = 0xFFFFFFFFu;
    for (int i = 0; i < length; ++i)
        c = table[(c ^ quint8(data[i])) & 0xFFu] ^ (c >> 8);

    QCOMPARE(ProtocolFrame::crc32(data, quint32(split), data + split, quint32(length - split)), ~c);
}

void TestProtocolFrame::crc_tableMatchesReflectedPolynomial()
{
    quint32 table[256];
    ProtocolFrame::buildCrcTable(table);
    QCOMPARE(table[0], 0u);
    QCOMPARE(table[1], 0x77073096u);
    QCOMPARE(table[128], 0xEDB88320u);
    QCOMPARE(table[255], 0x2D02EF8Du);
    QVERIFY(std::equal(table, table + 256, ProtocolFrame::crcTable()));
}

void TestProtocolFrame::payloadFrame_crcCoversHeaderThenPayload()
{
    const QByteArray payload("clean\0\0\0", 8);
    const QByteArray frame = ProtocolFrame::encode(AR_COMMAND_GET_ACTIVE, AR_MSGTYPE_REQUEST, 7, 2,
                                                   payload);
    QCOMPARE(frame.size(), ProtocolFrame::HeaderSize + payload.size());
    QCOMPARE(frame.left(4), QByteArray::fromHex("4F545241"));

    const ar_protocol_t header = ProtocolFrame::decodeHeader(frame.constData());
    QCOMPARE(header.length, quint32(payload.size()));
    QCOMPARE(header.seq, 7u);
    QCOMPARE(header.retry, 2u);

    QByteArray zeroed = frame;
    zeroed.replace(32, 4, QByteArray(4, '\0'));
    QCOMPARE(header.crc32, ProtocolFrame::crc32(zeroed.constData(), quint32(zeroed.size())));
    QVERIFY(ProtocolFrame::crcMatches(header, payload.constData(), quint32(payload.size())));
    QVERIFY(!ProtocolFrame::crcMatches(header, "dirty\0\0\0", 8));
}

void TestProtocolFrame::retransmission_differsOnlyInRetryAndCrc()
{
    const QByteArray first = ProtocolFrame::encode(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST, 9, 0,
                                                   QByteArray(100, 'x'));
    const QByteArray third = ProtocolFrame::encode(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST, 9, 2,
                                                   QByteArray(100, 'x'));
    QCOMPARE(first.size(), third.size());
    for (int i = 0; i < first.size(); ++i) {
        if (i >= 28 && i < 36)
            continue;
        QCOMPARE(first.at(i), third.at(i));
    }
    QCOMPARE(third.mid(28, 4), QByteArray::fromHex("02000000"));
    QVERIFY(first.mid(32, 4) != third.mid(32, 4));
}

void TestProtocolFrame::readRecord_missingBytesReadAsZero_data()
{
    QTest::addColumn<int>("available");
    QTest::newRow("nothing") << 0;
    QTest::newRow("status only") << 4;
    QTest::newRow("half the detail") << 40;
    QTest::newRow("whole record") << 72;
    QTest::newRow("more than the record") << 100;
}

void TestProtocolFrame::readRecord_missingBytesReadAsZero()
{
    QFETCH(int, available);
    // The payload is exactly `available` bytes long, so ASan catches any read past it.
    QByteArray bytes(available, '\x7f');
    std::unique_ptr<char[]> exact(new char[size_t(qMax(available, 1))]);
    std::memcpy(exact.get(), bytes.constData(), size_t(available));

    const auto status = ProtocolFrame::readRecord<ar_upgrade_status>(exact.get(), available);
    const auto *raw = reinterpret_cast<const unsigned char *>(&status);
    for (int i = 0; i < int(sizeof(status)); ++i)
        QCOMPARE(int(raw[i]), i < available ? 0x7f : 0);
}

QTEST_APPLESS_MAIN(TestProtocolFrame)
#include "tst_protocolframe.moc"
