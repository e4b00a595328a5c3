#include "protocolframe.h"

#include <zlib.h>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
              "frames are sent as byte images of little-endian records");

namespace ProtocolFrame {

quint32 crc32(const char *data, quint32 length)
{
    return crc32(data, length, nullptr, 0);
}

quint32 crc32(const char *data, quint32 length, const char *data1, quint32 length1)
{
    // zlib inverts the register on entry to and exit from every call, so the
    // second run continues the first exactly as one run would.
    uLong crc = ::crc32(0L, Z_NULL, 0);
    if (data)
        crc = ::crc32(crc, reinterpret_cast<const Bytef *>(data), uInt(length));
    if (data1)
        crc = ::crc32(crc, reinterpret_cast<const Bytef *>(data1), uInt(length1));
    return quint32(crc);
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
