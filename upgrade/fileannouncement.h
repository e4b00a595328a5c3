#ifndef FILEANNOUNCEMENT_H
#define FILEANNOUNCEMENT_H

#include "ARNetType.h"

#include <QString>

struct PinnedImage;

// The announcement of an image file to the device, sent before its data.
namespace FileAnnouncement {

// Where the device stores the files it receives.
const char DeviceDirectory[] = "/tmp/pc";

// Fills the record: digest and length of the image as pinned, `saveAsFile`,
// the device path "/tmp/pc/<targetName>" and the local path, each cut to its
// field in UTF-8.
ar_file_info make(const PinnedImage &image, const QString &targetName, const QString &localPath,
                  int saveAsFile);

QString targetPath(const QString &targetName);

} // namespace FileAnnouncement

#endif // FILEANNOUNCEMENT_H
