#include "datatransfer.h"

#include "logging.h"
#include "pinnedimage.h"

#include <utility>

DataTransfer::DataTransfer(QFile &file, qint64 size, int segmentLength, int frameUnit,
                           std::unique_ptr<FrameQueue> queue, SentImage &sent)
    : m_file(file)
    , m_size(size)
    , m_segmentLength(qMax(1, segmentLength))
    , m_frameUnit(qMax(1, frameUnit))
    , m_queue(std::move(queue))
    , m_sent(sent)
{
}

qint64 DataTransfer::segmentLength(int index) const
{
    return qMin<qint64>(m_segmentLength, m_size - qint64(index) * m_segmentLength);
}

qint64 DataTransfer::sendNextSegment()
{
    const int index = m_segmentsSent;
    readAhead(index);
    if (m_segmentEnds.empty()) {
        // The file ended before this segment was read whole: what was read
        // of it goes out, then the transfer stops.
        if (!m_queue->waitAcknowledged(m_queuedFrames))
            return -1;
        return FileChanged;
    }
    const qint64 end = m_segmentEnds.front();
    if (end > m_acknowledgedFrames) {
        // Waits for the segments that follow as well, as far as they are
        // queued: they are then followed without a wait each.
        const qint64 step = qMax<qint64>(1, FollowStepBytes / m_frameUnit);
        const qint64 target = qMax(end, qMin(m_acknowledgedFrames + step, m_segmentEnds.back()));
        if (!m_queue->waitAcknowledged(target)) {
            LOG_INFO << "commandSerialSend send err, segment" << index << "or one of the next";
            return -1; // the transfer ends here, whichever frame failed
        }
        m_acknowledgedFrames = target;
    }
    m_segmentEnds.pop_front();
    ++m_segmentsSent;
    return segmentLength(index);
}

void DataTransfer::readAhead(int through)
{
    const qint64 framesAhead = qMax<qint64>(MinFramesAhead, ReadAheadBytes / m_frameUnit);
    while (!m_fileEnded && m_readSegment < segmentCount()
           && (m_readSegment <= through || m_queuedFrames - m_acknowledgedFrames < framesAhead)) {
        if (!readFrame())
            return;
    }
}

// One frame of the segment being read; an empty segment is one empty frame.
bool DataTransfer::readFrame()
{
    const qint64 wanted = qMin<qint64>(m_frameUnit, segmentLength(m_readSegment) - m_readInSegment);
    QByteArray payload(int(wanted), Qt::Uninitialized);
    const qint64 read = m_file.read(payload.data(), wanted);
    if (read != wanted) {
        LOG_WARNING << "the image file ended early:" << read << "of" << wanted << "bytes read";
        m_fileEnded = true; // none of a file cut under the program goes out
        return false;
    }
    m_sent.add(payload.constData(), read);
    m_queue->append(payload);
    ++m_queuedFrames;
    m_readInSegment += read;
    if (m_readInSegment >= segmentLength(m_readSegment)) {
        m_segmentEnds.push_back(m_queuedFrames);
        ++m_readSegment;
        m_readInSegment = 0;
    }
    return true;
}
