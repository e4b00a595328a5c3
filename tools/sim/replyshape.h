#ifndef REPLYSHAPE_H
#define REPLYSHAPE_H

#include <QByteArray>
#include <QList>

// How a reply travels back: late, behind line noise, in pieces or twice.
// These are the ways a real USB serial link mangles traffic.
struct ReplyShape
{
    int delayMs = 0;
    int garbageBytes = 0;
    bool split = false;
    bool duplicate = false;
    qint32 seqOffset = 0;   // answers carry another request's sequence number
    int corruptLengths = 0; // the next replies carry an impossible length
};

namespace ReplyShaping {

// Pause between the pieces of a split reply: long enough for the reader to
// see them as separate reads.
constexpr int SplitGapMs = 5;

// Random bytes that contain no 0x4F, so they can never form or start the
// frame magic, whatever follows them.
QByteArray lineNoise(int bytes);

// The writes that carry one reply frame; each is written as one piece.
QList<QByteArray> pieces(const QByteArray &frame, const ReplyShape &shape);

} // namespace ReplyShaping

#endif // REPLYSHAPE_H
