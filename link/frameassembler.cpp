#include "frameassembler.h"

#include "logging.h"
#include "protocolframe.h"

#include <QtEndian>

FrameAssembler::FrameAssembler(Logging logging)
    : m_verbose(logging == Logging::Verbose)
{
}

QList<ReceivedFrame> FrameAssembler::feed(const QByteArray &bytes)
{
    QList<ReceivedFrame> frames;
    m_buffer.append(bytes);
    if (m_verbose)
        LOG_INFO << "Received data chunk, buffer size:" << m_buffer.size();

    while (m_buffer.size() >= ProtocolFrame::HeaderSize) {
        const quint32 magic = qFromLittleEndian<quint32>(m_buffer.constData());
        if (magic != AR_PROTOCOL_MAGIC) {
            if (m_verbose)
                LOG_WARNING << "Invalid magic number:" << magic;
            if (!dropUpToNextMagic())
                break;
            continue;
        }

        const ar_protocol_t header = ProtocolFrame::decodeHeader(m_buffer.constData());
        if (header.length > MaxPayloadBytes) {
            // No device sends this; resynchronise instead of waiting for ever.
            if (m_verbose)
                LOG_WARNING << "Invalid frame length:" << header.length;
            if (!dropUpToNextMagic())
                break;
            continue;
        }

        const int frameSize = ProtocolFrame::HeaderSize + int(header.length);
        if (m_verbose)
            LOG_INFO << "Packet requires:" << frameSize << "bytes, available:" << m_buffer.size();
        if (m_buffer.size() < frameSize) {
            if (m_verbose)
                LOG_INFO << "Incomplete packet, waiting for more data...";
            break;
        }

        ReceivedFrame frame{header, m_buffer.mid(ProtocolFrame::HeaderSize, int(header.length))};
        m_buffer.remove(0, frameSize);
        if (m_verbose)
            LOG_INFO << "Processing complete packet, command:" << header.command << "size:"
                     << frameSize << "remaining buffer:" << m_buffer.size();
        frames.append(frame);
    }

    if (m_verbose && !m_buffer.isEmpty())
        LOG_INFO << "Buffer contains partial data, size:" << m_buffer.size();
    return frames;
}

// Drops the bytes before the next magic number (searching from offset 1). A
// magic number that has only begun to arrive at the end of the buffer is kept,
// so a frame that follows garbage is never lost to a split read. Returns false
// when no magic number is in the buffer.
bool FrameAssembler::dropUpToNextMagic()
{
    const QByteArray magicBytes = QByteArray::fromRawData(
        reinterpret_cast<const char *>(&AR_PROTOCOL_MAGIC), int(sizeof(AR_PROTOCOL_MAGIC)));
    const int found = m_buffer.indexOf(magicBytes, 1);
    if (found > 0) {
        m_buffer.remove(0, found);
        if (m_verbose)
            LOG_WARNING << "Skipped invalid data, new buffer size:" << m_buffer.size();
        return true;
    }
    int keep = magicBytes.size() - 1;
    while (keep > 0 && !m_buffer.endsWith(magicBytes.left(keep)))
        --keep;
    m_buffer.remove(0, m_buffer.size() - keep);
    if (m_verbose)
        LOG_WARNING << "no find header, receiveBuffer clear";
    return false;
}
