#include "fileannouncement.h"

#include "pinnedimage.h"

namespace FileAnnouncement {

namespace {
template <int N>
void copyText(char (&field)[N], const QByteArray &text)
{
    qstrncpy(field, text.constData(), N); // cut to N - 1 bytes and terminated
}
} // namespace

QString targetPath(const QString &targetName)
{
    return QStringLiteral("%1/%2").arg(QLatin1String(DeviceDirectory), targetName);
}

ar_file_info make(const PinnedImage &image, const QString &targetName, const QString &localPath,
                  int saveAsFile)
{
    ar_file_info info{};
    copyText(info.MD5, image.md5);
    info.length = int32_t(image.size);
    info.saveAsFile = saveAsFile;
    copyText(info.filePath, targetPath(targetName).toUtf8());
    copyText(info.fileDir, localPath.toUtf8());
    return info;
}

} // namespace FileAnnouncement
