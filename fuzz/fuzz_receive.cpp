// Fuzzes the receive path: arbitrary bytes, cut into arbitrary reads, go to
// the link's receiveBytes() and, read for read, to a standalone assembler
// whose buffer and frames can be checked.
//
// Input: one byte giving how many chunk-size bytes follow (1..MaxChunkSizes),
// those bytes (each a read size of 1..255, 0 meaning "all that is left"),
// used in turn; the rest of the input is the byte stream.

#include "../tests/support/fixedportlister.h"
#include "frameassembler.h"
#include "fuzzsupport.h"
#include "protocolframe.h"
#include "usbvirtualserial.h"

#include <QCoreApplication>
#include <QHash>

#include <memory>
#include <vector>

namespace {

constexpr int MaxChunkSizes = 8;
constexpr int MaxBufferedBytes = ProtocolFrame::HeaderSize + int(FrameAssembler::MaxPayloadBytes);

// The link and the assembler beside it see the same reads in the same order,
// so the assembler's frames are exactly the frames the link dispatches.
UsbVirtualSerial *link = nullptr;
FrameAssembler *mirror = nullptr;

// `count` zero bytes, without allocating them on every input.
QByteArray zeros(int count)
{
    static const QByteArray block(MaxBufferedBytes, '\0');
    return QByteArray::fromRawData(block.constData(), count);
}

// One input's stream: feeds it, checks every frame that comes out and keeps
// their headers for the acknowledgement check.
class StreamRun
{
public:
    // A frame is a run of the stream after the previous frame and carries
    // exactly the payload its header announces; the buffer never holds more
    // than one largest frame.
    void feed(const QByteArray &bytes)
    {
        m_fed.append(bytes);
        link->receiveBytes(bytes);
        for (const ReceivedFrame &frame : mirror->feed(bytes)) {
            FUZZ_CHECK(frame.header.magic == AR_PROTOCOL_MAGIC);
            FUZZ_CHECK(frame.header.length <= FrameAssembler::MaxPayloadBytes);
            FUZZ_CHECK(quint32(frame.payload.size()) == frame.header.length);
            const QByteArray whole = ProtocolFrame::headerBytes(frame.header) + frame.payload;
            const int at = m_fed.indexOf(whole, m_frameEnd);
            FUZZ_CHECK(at >= 0);
            m_frameEnd = at + whole.size();
            m_headers.push_back(frame.header);
        }
        FUZZ_CHECK(mirror->bufferedBytes() <= MaxBufferedBytes);
    }

    // Zero bytes complete whatever header is waiting and are themselves dropped
    // as garbage, so the next input starts from an empty buffer.
    void drain()
    {
        while (mirror->bufferedBytes() > 0 && mirror->bufferedBytes() < ProtocolFrame::HeaderSize)
            feed(zeros(ProtocolFrame::HeaderSize - mirror->bufferedBytes()));
        const int buffered = mirror->bufferedBytes();
        if (buffered == 0)
            return;
        // A whole header with a plausible length waits for its payload. Up to
        // a mebibyte of zeros completes it; only the link is fed them, as the
        // frame they complete is known from its header.
        const ar_protocol_t header =
            ProtocolFrame::decodeHeader(m_fed.constData() + m_fed.size() - buffered);
        FUZZ_CHECK(header.magic == AR_PROTOCOL_MAGIC);
        FUZZ_CHECK(header.length <= FrameAssembler::MaxPayloadBytes);
        const int missing = ProtocolFrame::HeaderSize + int(header.length) - buffered;
        FUZZ_CHECK(missing > 0);
        link->receiveBytes(zeros(missing));
        mirror->clear();
        m_headers.push_back(header);
    }

    // Every positive acknowledgement comes from a real reply, and a status
    // reply always acknowledges. Reading them all empties the link's table
    // for the next input.
    void checkAcknowledgements() const
    {
        struct Replies { bool positive = false; bool lastIsStatus = false; };
        QHash<quint32, Replies> bySeq;
        for (const ar_protocol_t &header : m_headers) {
            Replies &replies = bySeq[header.seq];
            const bool reply = header.type == AR_MSGTYPE_ACK;
            replies.positive |= reply && header.command != 0;
            replies.lastIsStatus = reply && header.command == AR_CMD_UPGRADE_STATUS;
        }
        for (auto it = bySeq.cbegin(); it != bySeq.cend(); ++it) {
            const bool acknowledged = link->waitForACK(it.key(), 0);
            FUZZ_CHECK(acknowledged || !it->lastIsStatus);
            FUZZ_CHECK(!acknowledged || it->positive);
        }
    }

private:
    QByteArray m_fed;
    int m_frameEnd = 0;
    std::vector<ar_protocol_t> m_headers;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::silenceQtMessages();
    new QCoreApplication(*argc, *argv); // lives as long as the process
    link = new UsbVirtualSerial(std::make_shared<FixedPortLister>()); // no ports: fed by hand only
    mirror = new FrameAssembler(FrameAssembler::Logging::Quiet);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzSupport::InputReader input(data, size);
    std::vector<int> chunkSizes(input.takeByte() % MaxChunkSizes + 1);
    for (int &chunkSize : chunkSizes)
        chunkSize = input.takeByte();
    const QByteArray stream = input.rest();

    StreamRun run;
    int offset = 0;
    for (size_t i = 0; offset < stream.size(); ++i) {
        const int chunkSize = chunkSizes[i % chunkSizes.size()];
        const int length = chunkSize == 0 ? stream.size() - offset : chunkSize;
        run.feed(stream.mid(offset, length));
        offset += length;
    }
    run.drain();
    run.checkAcknowledgements();
    return 0;
}
