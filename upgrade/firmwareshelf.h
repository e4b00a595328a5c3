#ifndef FIRMWARESHELF_H
#define FIRMWARESHELF_H

#include "firmwarearchive.h"
#include "imagelocation.h"

#include <QVector>
#include <functional>
#include <memory>

// The files that a folder (with its sub-folders) or a zip archive holds, and
// their bytes: what the firmware chooser looks through. Folder and archive
// differ only in how a file is listed and read.
class FirmwareShelf
{
public:
    enum class Kind { File, Folder, Archive };

    struct Item
    {
        ImageLocation location;
        QString shownPath; // within the folder or archive
        qint64 size = 0;
    };

    // A folder is a folder; a name ending in .zip is an archive; the rest are files.
    static Kind kindOf(const QString &path);

    explicit FirmwareShelf(const QString &path);
    ~FirmwareShelf();

    Kind kind() const { return m_kind; }
    QString path() const { return m_path; }
    // The folder's or the archive's own name.
    QString name() const;
    // Lists the files; false when the folder cannot be read or the archive
    // is unusable (archiveProblem() says why), or `proceed` said no while a
    // folder was listed.
    bool open(const std::function<bool()> &proceed = {});
    FirmwareArchive::Problem archiveProblem() const;
    QString problemEntry() const;
    const QVector<Item> &items() const { return m_items; }

    // The first `bytes` bytes; empty when they cannot be read.
    QByteArray head(const Item &item, int bytes);
    // The MD5 of the whole file; empty when it cannot be read.
    QByteArray md5(const Item &item);

private:
    bool listFolder(const std::function<bool()> &proceed);
    bool listArchive();

    QString m_path;
    Kind m_kind;
    std::unique_ptr<FirmwareArchive> m_archive;
    QVector<Item> m_items;
};

#endif // FIRMWARESHELF_H
