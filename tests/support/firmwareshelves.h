#ifndef FIRMWARESHELVES_H
#define FIRMWARESHELVES_H

#include "ARNetType.h"
#include "testbytes.h"

#include <KZip>
#include <QDir>
#include <QFileInfo>
#include <QtEndian>

// Folders and zip archives of firmware files for the tests, each file given
// as "PATH=CONTENT": iN a single image of seed N, pN a multi-image package
// (its header's magic number, then bytes of seed N), e an empty file; no
// "=": a single image of seed 0.
namespace FirmwareShelves {

inline QByteArray content(const QString &file)
{
    const QString kind = file.section(QLatin1Char('='), 1);
    const int seed = kind.mid(1).toInt();
    if (kind == QLatin1String("e"))
        return QByteArray();
    QByteArray bytes = TestBytes::pattern(4096, seed);
    if (kind.startsWith(QLatin1Char('p')))
        qToLittleEndian<quint32>(IMG_PACKAGE_MAGIC, bytes.data());
    else if (bytes.startsWith("ASW")) // a seed that happens to look like a package does not
        bytes[0] = 0;
    return bytes;
}

inline QString pathOf(const QString &file) { return file.section(QLatin1Char('='), 0, 0); }

inline bool writeFolder(const QString &folder, const QStringList &files)
{
    for (const QString &file : files) {
        const QString path = QDir(folder).filePath(pathOf(file));
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !TestBytes::writeFile(path, content(file)))
            return false;
    }
    return true;
}

inline bool writeZip(const QString &path, const QStringList &files)
{
    KZip zip(path);
    if (!zip.open(QIODevice::WriteOnly))
        return false;
    for (const QString &file : files)
        if (!zip.writeFile(pathOf(file), content(file)))
            return false;
    return zip.close();
}

} // namespace FirmwareShelves

#endif // FIRMWARESHELVES_H
