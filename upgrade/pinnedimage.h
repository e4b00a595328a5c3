#ifndef PINNEDIMAGE_H
#define PINNEDIMAGE_H

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// A file as it was when its upgrade started: its size and MD5, taken once by
// reading it in pieces. Whatever is sent later must be exactly these bytes,
// so a file changed under the program is never sent as the one checked.
struct PinnedImage
{
    QString path;
    qint64 size = -1; // -1: not pinned
    QByteArray md5;   // lower-case hex

    bool isPinned() const { return size >= 0; }
    // Reads the file at `path` to the size it has on opening; an image that
    // cannot be opened or read whole comes back not pinned. The caller has
    // judged the file's type: a named pipe would block the open.
    static PinnedImage pin(const QString &path);
    // Reads the file again: true when it still holds exactly the pinned bytes.
    bool isUnchanged() const;
};

// The MD5 of what is sent of a pinned image, frame by frame: the file's end
// goes out only when exactly the pinned bytes went before it.
class SentImage
{
public:
    // A transfer (or a resend) starts from the first byte.
    void restart();
    void add(const char *data, qint64 length);
    qint64 bytes() const { return m_bytes; }
    bool matches(const PinnedImage &image) const;

private:
    QCryptographicHash m_hash{QCryptographicHash::Md5};
    qint64 m_bytes = 0;
};

#endif // PINNEDIMAGE_H
