#ifndef FRAMEASSEMBLER_H
#define FRAMEASSEMBLER_H

#include "ARNetType.h"

#include <QByteArray>
#include <QList>

// One frame cut out of the byte stream: its header and exactly `length`
// payload bytes.
struct ReceivedFrame
{
    ar_protocol_t header;
    QByteArray payload;
};

// Reassembles frames from a byte stream that may split, join or garble them.
// Garbage is skipped up to the next magic number; a header whose length no
// device ever sends is treated as garbage too, so the buffer never grows
// beyond one largest frame.
class FrameAssembler
{
public:
    // Largest payload of any frame on the link (one 1 MiB data segment).
    static constexpr quint32 MaxPayloadBytes = 1048576;

    enum class Logging { Quiet, Verbose };
    explicit FrameAssembler(Logging logging = Logging::Verbose);

    // Appends received bytes and returns every frame now complete, in order.
    QList<ReceivedFrame> feed(const QByteArray &bytes);

    int bufferedBytes() const { return m_buffer.size(); }
    void clear() { m_buffer.clear(); }

private:
    bool dropUpToNextMagic();

    QByteArray m_buffer;
    bool m_verbose;
};

#endif // FRAMEASSEMBLER_H
