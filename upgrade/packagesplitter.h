#ifndef PACKAGESPLITTER_H
#define PACKAGESPLITTER_H

#include "ARNetType.h"

#include <QString>
#include <QStringList>

// Splits a multi-image package into part files and maps part file names back
// to image types. Keeps no state; the upgrade worker's members of the same
// names forward here, so the log prefix still names these functions.
class PackageSplitter
{
public:
    // How a split ended; every value but None lists nothing.
    enum class SplitError {
        None, // at least one part was listed
        CannotOpen, // the package file cannot be opened
        BadHeader, // the file is shorter than the package header
        BadMagic, // the header does not start with the package magic
        BadCount, // the descriptor count is outside 1..IMG_MAX_SUB_IMAGES
        Damaged, // a sub-image runs past the end of the package or cannot be read
        CannotWrite, // a part file cannot be created or written in full
        NothingToSend, // the package is valid but marks no part for upgrade
        InsideHeader, // a sub-image starts inside the package header
        Overlapping, // sub-images overlap, share an offset or are out of order
    };

    // Writes one part file per usable descriptor into `outputDir` (which must
    // exist; empty means the current working directory), appends the paths of
    // the parts marked for upgrade to outPaths (which is not cleared) in
    // descriptor order and returns how many it appended. Any other outcome
    // returns 0, leaves outPaths as it was and removes every part file this
    // call wrote; `error` (when given) says why.
    static int upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths,
        const QString &outputDir = QString(), SplitError *error = nullptr);

    // The image type that a part file's name stands for; only the file-name
    // component counts.
    static IMG_TYPE getImgTypeFromFileName(const QString &upgradeFirmwareName);

    // The part file name of descriptor `index`: fixed names for the tarel
    // types, "part<index>_type<type>.bin" for every other type.
    static QString partFileName(int index, int imgType);
};

#endif // PACKAGESPLITTER_H
