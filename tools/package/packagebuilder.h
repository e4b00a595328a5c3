#ifndef PACKAGEBUILDER_H
#define PACKAGEBUILDER_H

#include "ARNetType.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// One sub-image of a package.
struct PackagePart
{
    IMG_TYPE type = IMG_UNKNOWN;
    bool upgrade = true;
    QByteArray data;
    quint32 flashOffset = 0;
};

// Builds multi-image packages: the 128-byte header with the descriptors laid
// out in order right after it, followed by the sub-images' bytes. For
// deliberately malformed packages take header(), change any field and write
// headerBytes() of it plus payload() (or a cut of them) with writeBytes().
class PackageBuilder
{
public:
    void setBoardType(quint32 boardType);
    void setVersions(quint32 sdkVersion, quint32 appVersion, quint32 qaVersion);
    void setBuildTime(quint64 buildTime);

    // False when the header has no descriptor left for the part, or the
    // package would outgrow the header's 32-bit offsets.
    bool addPart(const PackagePart &part);
    bool addPart(IMG_TYPE type, const QByteArray &data, bool upgrade = true);
    // Reads the part's bytes from `path` at once; false with `error` set when
    // the file cannot be read or the part does not fit.
    bool addPartFromFile(IMG_TYPE type, const QString &path, bool upgrade, QString *error);

    const QVector<PackagePart> &parts() const { return m_parts; }

    IMG_HEAD_INFO_EX header() const;
    QByteArray payload() const;
    // The whole package: header followed by payload.
    QByteArray bytes() const;
    bool write(const QString &path, QString *error = nullptr) const;

    static QByteArray headerBytes(const IMG_HEAD_INFO_EX &header);
    static bool writeBytes(const QString &path, const QByteArray &bytes, QString *error = nullptr);

private:
    quint32 m_boardType = 0;
    quint32 m_sdkVersion = 0;
    quint32 m_appVersion = 0;
    quint32 m_qaVersion = 0;
    quint64 m_buildTime = 0;
    QVector<PackagePart> m_parts;
};

#endif // PACKAGEBUILDER_H
