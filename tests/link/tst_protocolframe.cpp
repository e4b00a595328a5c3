#include "protocolframe.h"

#include <QtTest>

class TestProtocolFrame : public QObject
{
    Q_OBJECT

private slots:
    // Frames as they must appear on the wire, CRC included: the CRC runs over the
    // header with its crc32 field zeroed and every other field (retry too) final,
    // then on over the payload.
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
};

QTEST_APPLESS_MAIN(TestProtocolFrame)
#include "tst_protocolframe.moc"
