#include "stagedimage.h"

#include "logging.h"

#include <QFile>

StagedImage::StagedImage(const ImageLocation &location)
{
    if (location.inArchive())
        extract(location);
    else
        m_path = location.path;
}

// Under the entry's own name, which the device is told; a file that cannot
// be extracted whole goes at once, with its folder.
void StagedImage::extract(const ImageLocation &location)
{
    FirmwareArchive archive(location.path);
    m_folder = TemporaryFolders().make(QStringLiteral("image"));
    const QString target = m_folder->filePath(location.fileName());
    QFile file(target);
    if (!m_folder->isValid() || !file.open(QIODevice::WriteOnly)) {
        LOG_WARNING << "cannot extract" << location.entry << "into" << target;
        m_problem = FirmwareArchive::Problem::Damaged;
        m_folder.reset();
        return;
    }
    const bool read = archive.open() && archive.read(location.entry, [&file](const QByteArray &piece) {
        return file.write(piece) == piece.size();
    });
    file.close();
    if (!read) {
        m_problem = archive.problem();
        m_folder.reset();
        return;
    }
    LOG_INFO << "extracted" << location.entry << "of" << location.path << "to" << target;
    m_path = target;
}
