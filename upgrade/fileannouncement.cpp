#include "fileannouncement.h"

#include <QCryptographicHash>
#include <QFile>

namespace FileAnnouncement {

namespace {
template <int N>
void copyText(char (&field)[N], const QByteArray &text)
{
    qstrncpy(field, text.constData(), N); // cut to N - 1 bytes and terminated
}
} // namespace

QByteArray md5Hex(QFile &file)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(&file); // reads the file in pieces to its end
    return hash.result().toHex();
}

QString targetPath(const QString &targetName)
{
    return QStringLiteral("%1/%2").arg(QLatin1String(DeviceDirectory), targetName);
}

ar_file_info make(QFile &file, const QString &targetName, const QString &localPath, int saveAsFile)
{
    ar_file_info info{};
    copyText(info.MD5, md5Hex(file));
    info.length = int32_t(file.size());
    info.saveAsFile = saveAsFile;
    copyText(info.filePath, targetPath(targetName).toUtf8());
    copyText(info.fileDir, localPath.toUtf8());
    return info;
}

} // namespace FileAnnouncement
