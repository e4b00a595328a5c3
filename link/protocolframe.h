#ifndef PROTOCOLFRAME_H
#define PROTOCOLFRAME_H

#include "ARNetType.h"

#include <QByteArray>
#include <QtGlobal>
#include <cstring>

// The one place where frames are built, sealed with their CRC-32 and read
// back. The link, the device simulator and the tests all go through it.
namespace ProtocolFrame {

constexpr int HeaderSize = int(sizeof(ar_protocol_t));

// CRC-32 (reflected, polynomial 0xEDB88320), computed by zlib, over one or
// two byte runs continued without a restart; a null run is skipped.
quint32 crc32(const char *data, quint32 length);
quint32 crc32(const char *data, quint32 length, const char *data1, quint32 length1);

// A zeroed header with the fixed fields of every frame filled in.
ar_protocol_t makeHeader(quint32 command, quint16 type, quint16 format, quint16 userId,
                         quint32 length, quint32 seq);

// Sets the retry count and computes the frame CRC over the header (with its
// crc32 field zeroed) and the payload. Called afresh for every transmission.
void seal(ar_protocol_t *header, quint32 retry, const char *payload, quint32 payloadLength);

QByteArray headerBytes(const ar_protocol_t &header);

// A complete sealed frame: header followed by the payload bytes.
QByteArray encode(quint32 command, quint16 type, quint32 seq, quint32 retry,
                  const QByteArray &payload = QByteArray());

// Reads a header from at least HeaderSize bytes.
ar_protocol_t decodeHeader(const char *bytes);

// True when the frame's CRC matches its content.
bool crcMatches(const ar_protocol_t &header, const char *payload, quint32 payloadLength);

// Copies a payload record; bytes the payload does not carry read as zero, and
// nothing beyond `available` bytes is touched.
template <typename Record>
Record readRecord(const char *payload, qint64 available)
{
    Record record;
    std::memset(&record, 0, sizeof(record));
    const qint64 n = qBound<qint64>(0, available, qint64(sizeof(record)));
    if (n > 0)
        std::memcpy(&record, payload, size_t(n));
    return record;
}

template <typename Record>
QByteArray recordBytes(const Record &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof(record)));
}

} // namespace ProtocolFrame

#endif // PROTOCOLFRAME_H
