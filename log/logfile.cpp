#include "logfile.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cstring>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
const QByteArray LineFeed("\n");

// A path that names something other than a regular file: a device or a pipe.
bool isStream(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isFile();
}
} // namespace

LogFile::LogFile(const QString &path)
    : m_path(path)
{
}

LogFile::~LogFile() = default;

void LogFile::setPath(const QString &path)
{
    m_path = path;
    m_stream.reset();
    m_midLine = false;
}

QString LogFile::previousPath(const QString &path)
{
    return path + QStringLiteral(".1");
}

bool LogFile::append(const QByteArray &lines)
{
    if (m_stream || isStream(m_path))
        return appendToStream(lines);
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    if (!makeRoom(file, lines.size() + (m_midLine ? LineFeed.size() : 0)))
        return false;
    const qint64 before = file.size();
    const qint64 written = writeLines(file, lines);
    if (written == lines.size())
        return true;
    // Whole lines or nothing: a cut line is taken out again (a full disk
    // still allows that); where it stays, the next line starts afresh.
    if (file.size() > before && !file.resize(before))
        m_midLine = true;
    return false;
}

bool LogFile::appendToStream(const QByteArray &lines)
{
    // Kept open: a reader of a pipe would take a close for the end.
    if (!m_stream && !openStream())
        return false;
    writeLines(*m_stream, lines); // a stream that takes no more (a full device) loses them
    return true;
}

bool LogFile::openStream()
{
    auto stream = std::make_unique<QFile>(m_path);
#ifdef Q_OS_UNIX
    // A plain open of a pipe waits for a reader, for ever if none comes; a
    // reader that goes away raises SIGPIPE, which would end the program. So
    // the open does not wait (the lines wait instead), and a write to a
    // reader gone fails like any other.
    std::signal(SIGPIPE, SIG_IGN);
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); // writes keep pace with the reader
    if (!stream->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
#else
    if (!stream->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
#endif
    m_stream = std::move(stream);
    return true;
}

qint64 LogFile::writeLines(QFile &file, const QByteArray &lines)
{
    if (m_midLine) {
        if (writeBytes(file, LineFeed) != LineFeed.size())
            return -1;
        m_midLine = false;
    }
    const qint64 written = writeBytes(file, lines);
    if (written > 0 && written < lines.size())
        m_midLine = lines.at(int(written) - 1) != '\n';
    return written;
}

bool LogFile::makeRoom(QFile &file, qint64 incoming)
{
    const qint64 size = file.size();
    if (size == 0 || size + incoming <= MaxFileBytes)
        return true;
    file.close();
    const bool moved = !m_beginningKept && moveFile(m_path, previousPath(m_path));
    if (moved)
        m_beginningKept = true;
    else
        trimInPlace(file, TrimmedFileBytes);
    // Past the limit whatever happened: the lines wait, or are lost, rather
    // than the file growing without end.
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)
        && file.size() + incoming <= MaxFileBytes;
}

qint64 LogFile::writeBytes(QFile &file, const QByteArray &bytes)
{
    return file.write(bytes);
}

bool LogFile::moveFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::rename(from, to);
}

bool LogFile::trimInPlace(QFile &file, qint64 keepBytes, int bufferBytes)
{
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return false;
    const auto closeAtEnd = qScopeGuard([&file] { file.close(); });
    const qint64 size = file.size();
    if (size <= keepBytes)
        return true;
    QByteArray buffer(bufferBytes, Qt::Uninitialized);
    // The kept bytes start after the first line feed at or after the cut.
    qint64 from = size;
    for (qint64 at = size - keepBytes - 1; at < size && file.seek(at);) {
        const qint64 read = file.read(buffer.data(), qMin<qint64>(bufferBytes, size - at));
        if (read <= 0)
            return false;
        const auto *lineFeed = static_cast<const char *>(std::memchr(buffer.constData(), '\n', size_t(read)));
        if (lineFeed) {
            from = at + (lineFeed - buffer.constData()) + 1;
            break;
        }
        at += read;
    }
    // Forwards through the file: every byte is read before it is written over.
    qint64 to = 0;
    while (from < size) {
        const qint64 read = file.seek(from) ? file.read(buffer.data(), qMin<qint64>(bufferBytes, size - from)) : -1;
        if (read <= 0 || !file.seek(to) || file.write(buffer.constData(), read) != read)
            return false;
        from += read;
        to += read;
    }
    return file.resize(to);
}
