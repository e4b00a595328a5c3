#include "firmwarearchive.h"

#include "logging.h"

#include <KZip> // first: the entries' headers need KArchive
#include <KArchiveDirectory>
#include <KZipFileEntry>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtEndian>
#include <algorithm>
#include <zlib.h>

namespace {
constexpr qint64 ReadChunk = 64 * 1024;

// The file type bits of a Unix mode, as a zip made on Unix records it.
constexpr uint FileTypeMask = 0170000;
constexpr uint SymbolicLinkType = 0120000;

// KArchive does not tell whether an entry is encrypted: bit 0 of the general
// purpose flag in the entry's local header (its signature, then the version
// needed, then the flag) does.
const QByteArray LocalHeaderSignature("PK\x03\x04", 4);
constexpr int FlagOffset = 6;
constexpr int FlagEnd = FlagOffset + 2;
constexpr quint16 EncryptedFlag = 0x0001;

bool climbsOut(const QString &name)
{
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))
        || (name.size() > 1 && name.at(1) == QLatin1Char(':'))) // a drive letter
        return true;
    const QVector<QStringRef> parts = name.splitRef(QRegularExpression(QStringLiteral("[/\\\\]")));
    return std::any_of(parts.cbegin(), parts.cend(), [](const QStringRef &part) { return part == QLatin1String(".."); });
}
} // namespace

FirmwareArchive::FirmwareArchive(const QString &path)
    : m_path(path)
{
}

FirmwareArchive::~FirmwareArchive() = default;

bool FirmwareArchive::fail(Problem problem, const QString &entry)
{
    m_problem = problem;
    m_problemEntry = entry;
    LOG_WARNING << "archive" << m_path << "refused:" << int(problem) << entry;
    return false;
}

bool FirmwareArchive::open()
{
    // A named pipe or a device named like an archive would wait for a writer,
    // or never end, once opened.
    if (!QFileInfo(m_path).isFile())
        return fail(Problem::Damaged, QString());
    m_zip = std::make_unique<KZip>(m_path);
    if (!m_zip->open(QIODevice::ReadOnly)) {
        LOG_WARNING << "archive" << m_path << "cannot be opened:" << m_zip->errorString();
        return fail(Problem::Damaged, QString());
    }
    collect(*m_zip->directory());
    for (const KZipFileEntry *file : qAsConst(m_files)) {
        const Problem problem = checkEntry(*file);
        if (problem != Problem::None)
            return fail(problem, file->path());
        m_entries.append({file->path(), file->size()});
    }
    return true;
}

void FirmwareArchive::collect(const KArchiveDirectory &folder)
{
    for (const QString &name : folder.entries()) {
        const KArchiveEntry *entry = folder.entry(name);
        if (entry->isDirectory())
            collect(*static_cast<const KArchiveDirectory *>(entry));
        else
            m_files.append(static_cast<const KZipFileEntry *>(entry));
    }
}

FirmwareArchive::Problem FirmwareArchive::checkEntry(const KZipFileEntry &entry) const
{
    if (climbsOut(entry.path()))
        return Problem::ClimbingName;
    if (!entry.symLinkTarget().isEmpty() || (uint(entry.permissions()) & FileTypeMask) == SymbolicLinkType)
        return Problem::Link;
    if (entry.size() > MaxEntryBytes)
        return Problem::TooLarge;
    return isEncrypted(entry) ? Problem::Encrypted : Problem::None;
}

// A header that is not where the archive's directory says is damage, which
// the reading finds: only a header that says so makes an entry encrypted.
bool FirmwareArchive::isEncrypted(const KZipFileEntry &entry) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(entry.headerStart()))
        return false;
    const QByteArray header = file.read(FlagEnd);
    return header.size() == FlagEnd && header.startsWith(LocalHeaderSignature)
        && (qFromLittleEndian<quint16>(header.constData() + FlagOffset) & EncryptedFlag) != 0;
}

bool FirmwareArchive::read(const QString &entryPath, const std::function<bool(const QByteArray &)> &sink,
                           qint64 maxBytes)
{
    const auto found = std::find_if(m_files.cbegin(), m_files.cend(),
                                    [&entryPath](const KZipFileEntry *file) { return file->path() == entryPath; });
    if (found == m_files.cend())
        return fail(Problem::Damaged, entryPath);
    const KZipFileEntry &entry = **found;
    const std::unique_ptr<QIODevice> device(entry.createDevice());
    if (!device)
        return fail(Problem::Damaged, entryPath);
    const bool whole = maxBytes < 0;
    const qint64 wanted = whole ? entry.size() : qMin(maxBytes, entry.size());
    // One byte more than wanted is asked for: an entry that has it expands
    // beyond what it declares.
    const qint64 readLimit = whole ? entry.size() + 1 : wanted;
    uLong crc = crc32(0L, Z_NULL, 0);
    qint64 total = 0;
    while (total < readLimit) {
        const QByteArray piece = device->read(qMin(ReadChunk, readLimit - total));
        if (piece.isEmpty())
            break;
        total += piece.size();
        if (total > entry.size())
            return fail(Problem::TooLarge, entryPath);
        crc = crc32(crc, reinterpret_cast<const Bytef *>(piece.constData()), uInt(piece.size()));
        if (!sink(piece))
            return fail(Problem::Damaged, entryPath);
    }
    if (total < wanted || (whole && crc != entry.crc32()))
        return fail(Problem::Damaged, entryPath);
    return true;
}
