#ifndef DATATRANSFER_H
#define DATATRANSFER_H

#include "framequeue.h"

#include <QFile>
#include <deque>
#include <memory>

class SentImage;

// The data phase of one file. Its segments, as long as the device said when
// the transfer began, are cut into frames of the frame unit, read ahead of
// the link and queued on it, so the next frame is there the moment the one
// before it is acknowledged; the transfer is followed segment by segment as
// the acknowledgements come back. A file that ends whole in a segment is
// followed by one empty segment, as the device expects.
class DataTransfer
{
public:
    // How far reading runs ahead of the acknowledged frames (two frames at least).
    static constexpr qint64 ReadAheadBytes = 64 * 1024;
    static constexpr int MinFramesAhead = 2;
    // The sender follows the acknowledgements in steps of this much at most,
    // rather than waking for every frame.
    static constexpr qint64 FollowStepBytes = ReadAheadBytes / 4;
    // What sendNextSegment() returns when the file ended early (nothing of
    // the short read is sent).
    static constexpr qint64 FileChanged = -2;

    // Reads `file` from its position, `size` bytes in all, adding each
    // frame to `sent` as it is queued.
    DataTransfer(QFile &file, qint64 size, int segmentLength, int frameUnit, std::unique_ptr<FrameQueue> queue,
                 SentImage &sent);

    int segmentCount() const { return int(m_size / m_segmentLength) + 1; }
    int segmentsSent() const { return m_segmentsSent; }
    // Waits until the next segment is acknowledged whole: its length, -1
    // when a frame failed (or the run ended), FileChanged.
    qint64 sendNextSegment();

private:
    qint64 segmentLength(int index) const;
    // Queues frames until the reading is far enough ahead, or has read the
    // segment `through`.
    void readAhead(int through);
    bool readFrame();

    QFile &m_file;
    const qint64 m_size;
    const int m_segmentLength;
    const int m_frameUnit;
    std::unique_ptr<FrameQueue> m_queue;
    SentImage &m_sent;

    int m_readSegment = 0;         // the segment being read
    qint64 m_readInSegment = 0;    // bytes of it read
    bool m_fileEnded = false;      // a read came back short: nothing more is read
    qint64 m_queuedFrames = 0;
    std::deque<qint64> m_segmentEnds; // the frame count at the end of each segment read, not yet sent
    int m_segmentsSent = 0;
    qint64 m_acknowledgedFrames = 0; // known to be acknowledged
};

#endif // DATATRANSFER_H
