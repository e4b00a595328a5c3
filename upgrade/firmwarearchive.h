#ifndef FIRMWAREARCHIVE_H
#define FIRMWAREARCHIVE_H

#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class KArchiveDirectory;
class KZip;
class KZipFileEntry;

// A zip archive of firmware, read with KArchive and trusted no further than
// it must be: opening it checks every file entry, and one that is unsafe
// makes the whole archive unusable (a release bundle never holds such an
// entry; one that does has been tampered with or is no release bundle).
// Entries are only ever read through read(), which stops at the declared
// size and the limit and checks the CRC-32; nothing is written here.
class FirmwareArchive
{
public:
    // No firmware image comes near this: an entry declaring more, or
    // expanding beyond it while read, is taken for a zip bomb.
    static constexpr qint64 MaxEntryBytes = 256 * 1024 * 1024;

    enum class Problem {
        None,
        Damaged,      // not a zip archive (nor a regular file), or an entry cannot be read whole and intact
        ClimbingName, // an entry's name leads out of the folder it would be extracted to
        Link,
        Encrypted,
        TooLarge,     // an entry declares or expands beyond MaxEntryBytes, or beyond what it declares
    };

    struct Entry
    {
        QString path; // as the archive names it, folders included
        qint64 size = 0; // as declared
    };

    explicit FirmwareArchive(const QString &path);
    ~FirmwareArchive();

    // False, with problem() and problemEntry() set, when the archive cannot
    // be used.
    bool open();
    Problem problem() const { return m_problem; }
    QString problemEntry() const { return m_problemEntry; }
    // Every file entry, in the archive's order.
    const QVector<Entry> &entries() const { return m_entries; }

    // Hands the entry's bytes to `sink` piece by piece, at most `maxBytes`
    // of them (negative: all, checked against the declared size and the CRC).
    // False, with problem() set, when it cannot be read whole and intact or
    // `sink` refuses a piece.
    bool read(const QString &entryPath, const std::function<bool(const QByteArray &)> &sink,
              qint64 maxBytes = -1);

private:
    Problem checkEntry(const KZipFileEntry &entry) const;
    bool isEncrypted(const KZipFileEntry &entry) const;
    void collect(const KArchiveDirectory &folder);
    bool fail(Problem problem, const QString &entry);

    QString m_path;
    std::unique_ptr<KZip> m_zip;
    QVector<Entry> m_entries;
    QVector<const KZipFileEntry *> m_files;
    Problem m_problem = Problem::None;
    QString m_problemEntry;
};

#endif // FIRMWAREARCHIVE_H
