#ifndef STAGEDIMAGE_H
#define STAGEDIMAGE_H

#include "firmwarearchive.h"
#include "imagelocation.h"
#include "temporaryfolders.h"

#include <memory>

// The chosen image as a file of its own for the length of one upgrade: a
// file stays where it is; an archive's entry is extracted, alone, into a
// folder of the program's own, which goes with this object whatever the
// upgrade came to.
class StagedImage
{
public:
    explicit StagedImage(const ImageLocation &location);

    // A file to send; otherwise problem() or, when the archive was sound,
    // writeError() (a full disk, say) tells why there is none.
    bool isReady() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    FirmwareArchive::Problem problem() const { return m_problem; }
    QString writeError() const { return m_writeError; }

private:
    void extract(const ImageLocation &location);

    std::unique_ptr<TemporaryFolders::Folder> m_folder;
    QString m_path;
    FirmwareArchive::Problem m_problem = FirmwareArchive::Problem::None;
    QString m_writeError;
};

#endif // STAGEDIMAGE_H
