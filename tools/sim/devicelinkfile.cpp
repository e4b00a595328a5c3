#include "devicelinkfile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString systemError(const QString &what)
{
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
}

bool isTakenByOtherThanLink(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0 && !S_ISLNK(info.st_mode);
}
} // namespace

DeviceLinkFile::~DeviceLinkFile()
{
    remove();
}

bool DeviceLinkFile::setPath(const QString &path, QString *error)
{
    remove();
    m_path.clear();
    if (path.isEmpty())
        return true;
    if (isTakenByOtherThanLink(QFile::encodeName(path))) {
        *error = QStringLiteral("%1 exists and is not a symbolic link").arg(path);
        return false;
    }
    m_path = path;
    return true;
}

bool DeviceLinkFile::pointAt(const QString &target, QString *error)
{
    if (m_path.isEmpty())
        return true;
    const QByteArray link = QFile::encodeName(m_path);
    const QByteArray staging = link + ".new" + QByteArray::number(qint64(::getpid()));
    if (::symlink(QFile::encodeName(target).constData(), staging.constData()) != 0) {
        *error = systemError(QStringLiteral("symlink %1").arg(m_path));
        return false;
    }
    if (::rename(staging.constData(), link.constData()) != 0) {
        *error = systemError(QStringLiteral("rename to %1").arg(m_path));
        ::unlink(staging.constData());
        return false;
    }
    return true;
}

void DeviceLinkFile::remove()
{
    const QByteArray link = QFile::encodeName(m_path);
    if (!m_path.isEmpty() && !isTakenByOtherThanLink(link))
        ::unlink(link.constData());
}
