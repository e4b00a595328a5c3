#ifndef TEMPORARYFOLDERS_H
#define TEMPORARYFOLDERS_H

#include <QDir>
#include <QLockFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// The program's own temporary folder, "tavio-USER" below the system's, open
// to its user only. Every temporary folder the program makes is made in it
// and holds the lock of the process that made it, so a folder whose process
// is gone (killed, crashed) can be told from one in use and removed.
class TemporaryFolders
{
public:
    // A folder of this process, removed with the object.
    class Folder
    {
    public:
        bool isValid() const { return m_lock && m_lock->isLocked(); }
        QString path() const { return isValid() ? m_dir->path() : QString(); }
        QString filePath(const QString &name) const { return isValid() ? m_dir->filePath(name) : QString(); }

    private:
        friend class TemporaryFolders;
        Folder() = default; // none could be made
        explicit Folder(const QString &nameTemplate);

        std::unique_ptr<QTemporaryDir> m_dir;
        // Released before the folder goes: a sweep leaves a folder without one alone.
        std::unique_ptr<QLockFile> m_lock;
    };

    // Below `systemTemp`, the system's temporary folder as it is now unless a test says.
    explicit TemporaryFolders(const QString &systemTemp = QDir::tempPath());

    QString path() const { return m_path; }
    // A new folder "`prefix`-XXXXXX"; not valid when it cannot be made.
    std::unique_ptr<Folder> make(const QString &prefix) const;
    // Removes the folders whose process is gone (their lock is stale); those
    // of a running process stay. Links inside are removed as links. Returns
    // how many went.
    int sweep() const;

private:
    // A real folder of this user's (not a link planted in its place), open to it alone.
    bool isOwn() const;

    QString m_path;
};

#endif // TEMPORARYFOLDERS_H
