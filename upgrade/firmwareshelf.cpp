#include "firmwareshelf.h"

#include "pinnedimage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {
const QLatin1String ArchiveSuffix("zip");
}

FirmwareShelf::Kind FirmwareShelf::kindOf(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return Kind::Folder;
    return info.suffix().compare(ArchiveSuffix, Qt::CaseInsensitive) == 0 ? Kind::Archive : Kind::File;
}

FirmwareShelf::FirmwareShelf(const QString &path)
    : m_path(path)
    , m_kind(kindOf(path))
{
}

FirmwareShelf::~FirmwareShelf() = default;

QString FirmwareShelf::name() const
{
    return QFileInfo(QDir::cleanPath(m_path)).fileName();
}

// Sorted by path, so the same files are always looked through in the same order.
bool FirmwareShelf::open(const std::function<bool()> &proceed)
{
    const bool listed = m_kind == Kind::Folder ? listFolder(proceed) : listArchive();
    std::sort(m_items.begin(), m_items.end(), [](const Item &a, const Item &b) { return a.shownPath < b.shownPath; });
    return listed;
}

// Links to folders are not followed: a link back up would never end.
bool FirmwareShelf::listFolder(const std::function<bool()> &proceed)
{
    const QDir folder(m_path);
    if (!folder.isReadable())
        return false;
    QDirIterator it(m_path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        if (proceed && !proceed())
            return false;
        const QString file = it.next();
        m_items.append({ImageLocation(file), folder.relativeFilePath(file), it.fileInfo().size()});
    }
    return true;
}

bool FirmwareShelf::listArchive()
{
    m_archive = std::make_unique<FirmwareArchive>(m_path);
    if (!m_archive->open())
        return false;
    for (const FirmwareArchive::Entry &entry : m_archive->entries())
        m_items.append({ImageLocation(m_path, entry.path), entry.path, entry.size});
    return true;
}

FirmwareArchive::Problem FirmwareShelf::archiveProblem() const
{
    return m_archive ? m_archive->problem() : FirmwareArchive::Problem::None;
}

QString FirmwareShelf::problemEntry() const
{
    return m_archive ? m_archive->problemEntry() : QString();
}

QByteArray FirmwareShelf::head(const Item &item, int bytes)
{
    if (!m_archive) {
        QFile file(item.location.path);
        return file.open(QIODevice::ReadOnly) ? file.read(bytes) : QByteArray();
    }
    QByteArray head;
    const bool read = m_archive->read(item.location.entry, [&head](const QByteArray &piece) {
        head += piece;
        return true;
    }, bytes);
    return read ? head : QByteArray();
}

QByteArray FirmwareShelf::md5(const Item &item)
{
    if (!m_archive) {
        const PinnedImage pinned = PinnedImage::pin(item.location.path);
        return pinned.isPinned() ? pinned.md5 : QByteArray();
    }
    QCryptographicHash hash(QCryptographicHash::Md5);
    const bool read = m_archive->read(item.location.entry, [&hash](const QByteArray &piece) {
        hash.addData(piece);
        return true;
    });
    return read ? hash.result().toHex() : QByteArray();
}
