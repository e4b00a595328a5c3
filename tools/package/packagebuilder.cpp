#include "packagebuilder.h"

#include <QFile>
#include <limits>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
    "the package header is written as a byte image of little-endian fields");

namespace {
constexpr qint64 HeaderSize = qint64(sizeof(IMG_HEAD_INFO_EX));
// Every sub-image must start at an offset the descriptor can hold.
constexpr qint64 MaxPackageSize = qint64(std::numeric_limits<quint32>::max());

bool writeAll(QFile &file, const QByteArray &bytes)
{
    return file.write(bytes) == bytes.size();
}

// Flushes and reports: false with `error` set when anything failed.
bool finish(QFile &file, bool ok, QString *error)
{
    ok = ok && file.flush();
    if (!ok && error)
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    return ok;
}
} // namespace

void PackageBuilder::setBoardType(quint32 boardType)
{
    m_boardType = boardType;
}

void PackageBuilder::setVersions(quint32 sdkVersion, quint32 appVersion, quint32 qaVersion)
{
    m_sdkVersion = sdkVersion;
    m_appVersion = appVersion;
    m_qaVersion = qaVersion;
}

void PackageBuilder::setBuildTime(quint64 buildTime)
{
    m_buildTime = buildTime;
}

bool PackageBuilder::addPart(const PackagePart &part)
{
    qint64 size = HeaderSize + part.data.size();
    for (const PackagePart &earlier : m_parts)
        size += earlier.data.size();
    if (m_parts.size() >= IMG_MAX_SUB_IMAGES || size > MaxPackageSize)
        return false;
    m_parts.append(part);
    return true;
}

bool PackageBuilder::addPart(IMG_TYPE type, const QByteArray &data, bool upgrade)
{
    PackagePart part;
    part.type = type;
    part.upgrade = upgrade;
    part.data = data;
    return addPart(part);
}

bool PackageBuilder::addPartFromFile(
    IMG_TYPE type, const QString &path, bool upgrade, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!addPart(type, file.readAll(), upgrade)) {
        if (error)
            *error = QStringLiteral("no room in the package for %1").arg(path);
        return false;
    }
    return true;
}

IMG_HEAD_INFO_EX PackageBuilder::header() const
{
    IMG_HEAD_INFO_EX header{};
    header.u32magic = IMG_PACKAGE_MAGIC;
    header.u32BoardType = m_boardType;
    header.u32SdkVersion = m_sdkVersion;
    header.u32AppVersion = m_appVersion;
    header.u32QaVersion = m_qaVersion;
    header.u64BuilTime = m_buildTime;
    header.subImgNum = qint8(m_parts.size());
    quint32 offset = quint32(HeaderSize);
    for (int i = 0; i < m_parts.size(); ++i) {
        const PackagePart &part = m_parts.at(i);
        IMG_SUB_IMG_INFO_T &info = header.subImgInfo[i];
        info.s8imgType = qint8(part.type);
        info.s8upgrade = part.upgrade ? 1 : 0;
        info.u32flashoffset = part.flashOffset;
        info.u32subimgoffset = offset;
        offset += quint32(part.data.size());
    }
    return header;
}

QByteArray PackageBuilder::payload() const
{
    QByteArray out;
    for (const PackagePart &part : m_parts)
        out += part.data;
    return out;
}

QByteArray PackageBuilder::bytes() const
{
    return headerBytes(header()) + payload();
}

bool PackageBuilder::write(const QString &path, QString *error) const
{
    // Part by part, so the package is never held twice in memory.
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && writeAll(file, headerBytes(header()));
    for (const PackagePart &part : m_parts)
        ok = ok && writeAll(file, part.data);
    return finish(file, ok, error);
}

QByteArray PackageBuilder::headerBytes(const IMG_HEAD_INFO_EX &header)
{
    return QByteArray(reinterpret_cast<const char *>(&header), int(sizeof(header)));
}

bool PackageBuilder::writeBytes(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    const bool ok = file.open(QIODevice::WriteOnly | QIODevice::Truncate) && writeAll(file, bytes);
    return finish(file, ok, error);
}
