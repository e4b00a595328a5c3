#include "temporaryfolders.h"

#include "logging.h"

#include <QFileInfo>

namespace {
const QString LockFileName = QStringLiteral(".lock"); // no part or image name starts with a dot
const QString NamePrefix = QStringLiteral("tavio-");
const QString NameSuffix = QStringLiteral("-XXXXXX");
constexpr QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner;

// Users sharing a machine, and its temporary folder, get a folder each.
QString userName()
{
    for (const char *variable : {"USER", "USERNAME"}) {
        const QString name = qEnvironmentVariable(variable);
        if (!name.isEmpty())
            return name;
    }
    return QDir::home().dirName();
}
} // namespace

TemporaryFolders::Folder::Folder(const QString &nameTemplate)
    : m_dir(new QTemporaryDir(nameTemplate))
{
    if (!m_dir->isValid())
        return;
    m_lock.reset(new QLockFile(m_dir->filePath(LockFileName)));
    if (!m_lock->tryLock())
        LOG_WARNING << "cannot lock the temporary folder" << m_dir->path() << m_lock->error();
}

TemporaryFolders::TemporaryFolders(const QString &systemTemp)
    : m_path(QDir(systemTemp).filePath(NamePrefix + userName()))
{
}

std::unique_ptr<TemporaryFolders::Folder> TemporaryFolders::make(const QString &prefix) const
{
    if (!(QFileInfo::exists(m_path) || QDir().mkdir(m_path)) || !isOwn()) {
        LOG_WARNING << "the program's temporary folder" << m_path << "cannot be used";
        return std::unique_ptr<Folder>(new Folder);
    }
    return std::unique_ptr<Folder>(new Folder(QDir(m_path).filePath(prefix + NameSuffix)));
}

int TemporaryFolders::sweep() const
{
    if (!isOwn())
        return 0;
    int removed = 0;
    const QFileInfoList folders =
        QDir(m_path).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &folder : folders) {
        const QString lockPath = QDir(folder.filePath()).filePath(LockFileName);
        if (!QFileInfo::exists(lockPath))
            continue; // being made: its process locks it next
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0); // a long upgrade's lock never goes stale by its age
        if (!lock.tryLock())
            continue; // its process runs
        lock.unlock();
        // Not through links: what they lead to, outside, stays.
        if (QDir(folder.filePath()).removeRecursively()) {
            LOG_INFO << "removed" << folder.filePath() << "left by a process that is gone";
            ++removed;
        } else {
            LOG_WARNING << "cannot remove" << folder.filePath() << "left by a process that is gone";
        }
    }
    return removed;
}

bool TemporaryFolders::isOwn() const
{
    const QFileInfo info(m_path);
    // Permissions can be set by the folder's owner only.
    return info.isDir() && !info.isSymLink() && QFile::setPermissions(m_path, OwnerOnly);
}
