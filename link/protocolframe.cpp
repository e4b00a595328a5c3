#include "protocolframe.h"

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "frames are sent as byte images of little-endian records");

namespace ProtocolFrame {

namespace {
constexpr quint32 CrcPolynomial = 0xEDB88320u;
constexpr int CrcSlices = 8; // bytes folded in per step of the sliced loop

// The byte table followed by the tables of the sliced loop: slice k maps a
// byte to its CRC contribution k bytes further on, so eight bytes are folded
// in with eight independent lookups instead of a chain of eight.
struct CrcTables
{
    quint32 slice[CrcSlices][256];

    CrcTables()
    {
        buildCrcTable(slice[0]);
        for (int k = 1; k < CrcSlices; ++k) {
            for (int i = 0; i < 256; ++i)
                slice[k][i] = (slice[k - 1][i] >> 8) ^ slice[0][slice[k - 1][i] & 0xFFu];
        }
    }
};

const CrcTables &crcTables()
{
    static const CrcTables tables;
    return tables;
}

quint32 crcUpdate(quint32 c, const char *data, quint32 length)
{
    const auto &t = crcTables().slice;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    for (; length >= CrcSlices; length -= CrcSlices, bytes += CrcSlices) {
        const quint32 low = c ^ (quint32(bytes[0]) | quint32(bytes[1]) << 8
                                 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24);
        c = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu]
                ^ t[4][low >> 24] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]]
                ^ t[0][bytes[7]];
    }
    for (; length > 0; --length, ++bytes)
        c = t[0][(c ^ *bytes) & 0xFFu] ^ (c >> 8);
    return c;
}
} // namespace

void buildCrcTable(quint32 *table)
{
    for (quint32 i = 0; i < 256; ++i) {
        quint32 c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1u) ? (c >> 1) ^ CrcPolynomial : c >> 1;
        table[i] = c;
    }
}

const quint32 *crcTable()
{
    return crcTables().slice[0];
}

quint32 crc32(const char *data, quint32 length)
{
    return crc32(data, length, nullptr, 0);
}

quint32 crc32(const char *data, quint32 length, const char *data1, quint32 length1)
{
    quint32 c = 0xFFFFFFFFu;
    if (data)
        c = crcUpdate(c, data, length);
    if (data1)
        c = crcUpdate(c, data1, length1);
    return ~c;
}

ar_protocol_t makeHeader(quint32 command, quint16 type, quint16 format, quint16 userId,
                         quint32 length, quint32 seq)
{
    ar_protocol_t header;
    std::memset(&header, 0, sizeof(header));
    header.magic = AR_PROTOCOL_MAGIC;
    header.version = AR_PROTOCOL_VERSION;
    header.type = type;
    header.msgid = AR_PROTOCOL_MSGID;
    header.command = command;
    header.format = format;
    header.userid = userId;
    header.length = length;
    header.seq = seq;
    return header;
}

void seal(ar_protocol_t *header, quint32 retry, const char *payload, quint32 payloadLength)
{
    header->retry = retry;
    header->crc32 = 0;
    header->crc32 = crc32(reinterpret_cast<const char *>(header), sizeof(*header),
                          payload, payloadLength);
}

QByteArray headerBytes(const ar_protocol_t &header)
{
    return recordBytes(header);
}

QByteArray encode(quint32 command, quint16 type, quint32 seq, quint32 retry,
                  const QByteArray &payload)
{
    ar_protocol_t header = makeHeader(command, type, AR_FMT_BINARY, 0,
                                      quint32(payload.size()), seq);
    seal(&header, retry, payload.isEmpty() ? nullptr : payload.constData(),
         quint32(payload.size()));
    return headerBytes(header) + payload;
}

ar_protocol_t decodeHeader(const char *bytes)
{
    return readRecord<ar_protocol_t>(bytes, HeaderSize);
}

bool crcMatches(const ar_protocol_t &header, const char *payload, quint32 payloadLength)
{
    ar_protocol_t copy = header;
    seal(&copy, header.retry, payload, payloadLength);
    return copy.crc32 == header.crc32;
}

} // namespace ProtocolFrame
