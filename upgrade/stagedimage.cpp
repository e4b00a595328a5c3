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
        m_writeError = m_folder->isValid() ? file.errorString() : QStringLiteral("no folder could be made there");
        m_folder.reset();
        return;
    }
    // A short write is tried on, so a full disk ends in the file's error.
    const bool read = archive.open() && archive.read(location.entry, [&file](const QByteArray &piece) {
        for (qint64 done = 0, wrote = 0; done < piece.size(); done += wrote) {
            wrote = file.write(piece.constData() + done, piece.size() - done);
            if (wrote <= 0)
                return false;
        }
        return true;
    });
    const bool written = file.error() == QFileDevice::NoError && file.flush();
    file.close();
    if (!read || !written) {
        // A refused write is the disk's fault, not the archive's.
        m_problem = written ? archive.problem() : FirmwareArchive::Problem::None;
        m_writeError = written ? QString() : file.errorString();
        LOG_WARNING << "cannot extract" << location.entry << "into" << target << ":" << m_writeError;
        m_folder.reset();
        return;
    }
    LOG_INFO << "extracted" << location.entry << "of" << location.path << "to" << target;
    m_path = target;
}
