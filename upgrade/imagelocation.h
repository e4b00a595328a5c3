#ifndef IMAGELOCATION_H
#define IMAGELOCATION_H

#include <QString>

// Where an image lies: a file of its own (given alone or found in a folder),
// or an entry of a zip archive.
struct ImageLocation
{
    QString path;  // the file, or the archive
    QString entry; // the archive's entry; empty for a file

    ImageLocation() = default;
    // A file of its own: what the user chose, or a folder's file.
    ImageLocation(const QString &file) : path(file) {} // NOLINT: a file path is a location
    ImageLocation(const QString &archive, const QString &archiveEntry) : path(archive), entry(archiveEntry) {}

    bool inArchive() const { return !entry.isEmpty(); }
    // The image's own name: what the rules judge and the device is told.
    QString fileName() const
    {
        const QString &full = inArchive() ? entry : path;
        return full.mid(full.lastIndexOf(QLatin1Char('/')) + 1);
    }
};

#endif // IMAGELOCATION_H
