#ifndef TESTBYTES_H
#define TESTBYTES_H

#include <QByteArray>
#include <QFile>
#include <sys/stat.h>

namespace TestBytes {

// Bytes that differ with the seed and along the data without repeating every
// 256 bytes, so data cut at a wrong offset or copied out of order cannot pass.
inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + i / 251 + seed * 13);
    return out;
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's content; false when it could not be written whole.
inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Ways a file changes under a program that reads it: the same file (same
// inode) in each but the last, where a named pipe takes its name.
enum class Change { CutToHalf, CutToNothing, OverwriteInPlace, Append, ReplaceWithPipe };

inline bool change(const QString &path, Change how)
{
    QFile file(path);
    const qint64 size = file.size();
    switch (how) {
    case Change::CutToHalf:
        return file.resize(size / 2);
    case Change::CutToNothing:
        return file.resize(0);
    case Change::OverwriteInPlace:
        return file.open(QIODevice::ReadWrite) && file.write(pattern(int(size), 99)) == size;
    case Change::Append:
        return file.open(QIODevice::Append) && file.write("more") == 4;
    case Change::ReplaceWithPipe:
        return file.remove() && mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    }
    return false;
}

} // namespace TestBytes

#endif // TESTBYTES_H
