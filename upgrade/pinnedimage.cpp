#include "pinnedimage.h"

#include <QFile>

namespace {
// Read in pieces of this size, so memory does not grow with the image.
constexpr qint64 ReadChunk = 64 * 1024;
} // namespace

PinnedImage PinnedImage::pin(const QString &path)
{
    PinnedImage image;
    image.path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return image;
    // A file that grows meanwhile is pinned at the size it had: its reading ends.
    const qint64 size = file.size();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray chunk(int(qMin(qMax<qint64>(size, 1), ReadChunk)), Qt::Uninitialized);
    qint64 read = 0;
    while (read < size) {
        const qint64 got = file.read(chunk.data(), qMin(size - read, ReadChunk));
        if (got <= 0)
            return image; // cut while it was read
        hash.addData(chunk.constData(), int(got));
        read += got;
    }
    image.size = size;
    image.md5 = hash.result().toHex();
    return image;
}

bool PinnedImage::isUnchanged() const
{
    const PinnedImage now = pin(path);
    return isPinned() && now.size == size && now.md5 == md5;
}

void SentImage::restart()
{
    m_hash.reset();
    m_bytes = 0;
}

void SentImage::add(const char *data, qint64 length)
{
    m_hash.addData(data, int(length));
    m_bytes += length;
}

bool SentImage::matches(const PinnedImage &image) const
{
    return image.isPinned() && m_bytes == image.size && m_hash.result().toHex() == image.md5;
}
