#ifndef FILEANNOUNCEMENT_H
#define FILEANNOUNCEMENT_H

#include "ARNetType.h"

#include <QString>

class QFile;

// The announcement of an image file to the device, sent before its data.
namespace FileAnnouncement {

// Where the device stores the files it receives.
const char DeviceDirectory[] = "/tmp/pc";

// MD5 of the file from its current position to the end, read in pieces so
// memory does not grow with the image; lower-case hex. Leaves the position at the end.
QByteArray md5Hex(QFile &file);

// Fills the record: digest and length of `file`, `saveAsFile`, the device path
// "/tmp/pc/<targetName>" and the local path, each cut to its field in UTF-8.
ar_file_info make(QFile &file, const QString &targetName, const QString &localPath, int saveAsFile);

QString targetPath(const QString &targetName);

} // namespace FileAnnouncement

#endif // FILEANNOUNCEMENT_H
