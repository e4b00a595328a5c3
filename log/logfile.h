#ifndef LOGFILE_H
#define LOGFILE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

class QFile;

// The file the log sink writes to, kept to whole lines and within its limit.
// Before a batch would take the file past MaxFileBytes, the file is moved
// aside as "<name>.1" (the previous generation, replaced each time), unless
// the previous generation holds the beginning of the present episode (see
// keepNextAsBeginning()): then, as where the file cannot be moved at all (a
// read-only folder), it is trimmed in place to its newest lines. A batch that
// cannot be written whole is taken out of the file again; where that fails
// too, the next line starts on a new line. A device or a pipe (not a regular
// file) is kept open and written as a stream, never moved nor trimmed.
// Not thread-safe: the sink serialises every call.
class LogFile
{
public:
    static constexpr qint64 MaxFileBytes = 5242880;
    static constexpr qint64 TrimmedFileBytes = 2621440; // what a trim in place keeps at most
    static constexpr int TrimBufferBytes = 65536;       // all a trim holds in memory

    explicit LogFile(const QString &path);
    virtual ~LogFile();

    QString path() const { return m_path; }
    void setPath(const QString &path);
    // The previous generation of the file at `path`.
    static QString previousPath(const QString &path);

    // Appends `lines` (whole lines). False when they are not in the file: the
    // caller may offer them again (a stream that takes no more loses them).
    bool append(const QByteArray &lines);

    // The next generation the file fills is kept as the previous one however
    // much is logged after it: what is logged from now on starts there.
    void keepNextAsBeginning() { m_beginningKept = false; }

    // Cuts a closed regular file to its newest `keepBytes` at most, starting
    // at a full line, in place: the bytes move through a buffer of
    // `bufferBytes`, the only memory it takes. False when the file could not
    // be read or written.
    static bool trimInPlace(QFile &file, qint64 keepBytes, int bufferBytes = TrimBufferBytes);

protected:
    // The two operations a full disk or a read-only folder makes fail; tests
    // replace them. Returns the bytes written, -1 on an error.
    virtual qint64 writeBytes(QFile &file, const QByteArray &bytes);
    // Moves the file at `from` to `to`, replacing `to`.
    virtual bool moveFile(const QString &from, const QString &to);

private:
    bool appendToStream(const QByteArray &lines);
    // Opens the device or pipe for writing; false, at once, when a pipe has no reader.
    bool openStream();
    // Makes room for `incoming` bytes in the regular file; false when the
    // file cannot be brought below the limit.
    bool makeRoom(QFile &file, qint64 incoming);
    // Writes `lines` after a cut line's line feed, if one is owed.
    qint64 writeLines(QFile &file, const QByteArray &lines);

    QString m_path;
    std::unique_ptr<QFile> m_stream; // a device or pipe, open while it is the log
    bool m_midLine = false;          // the file ends inside a line a failed write cut
    bool m_beginningKept = false;    // the previous generation holds this episode's beginning
};

#endif // LOGFILE_H
