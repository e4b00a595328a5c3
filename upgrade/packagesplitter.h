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
    // Writes one part file per usable descriptor into the current working
    // directory, appends the paths of the parts marked for upgrade to
    // outPaths (which is not cleared) in descriptor order and returns how
    // many it appended. A rejected package writes nothing and returns 0.
    static int upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths);

    // The image type that a part file's name stands for; only the file-name
    // component counts.
    static IMG_TYPE getImgTypeFromFileName(const QString &upgradeFirmwareName);

    // The part file name of descriptor `index`: fixed names for the tarel
    // types, "part<index>_type<type>.bin" for every other type.
    static QString partFileName(int index, int imgType);
};

#endif // PACKAGESPLITTER_H
