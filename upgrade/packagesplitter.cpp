#include "packagesplitter.h"

#include "logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
    "the package header is read as a byte image of little-endian fields");

namespace {

// Sub-images are copied through a buffer of this size, so a package of any
// size is split with bounded memory.
constexpr qint64 CopyChunkSize = 64 * 1024;

// Copies `length` bytes from the current position of `from` to `to` and
// returns how many were written; stops early at a short read or write.
qint64 copyBytes(QIODevice &from, QIODevice &to, qint64 length)
{
    QByteArray chunk(int(qMin(length, CopyChunkSize)), Qt::Uninitialized);
    qint64 copied = 0;
    while (copied < length) {
        const qint64 got = from.read(chunk.data(), qMin(length - copied, CopyChunkSize));
        if (got <= 0)
            break;
        const qint64 written = to.write(chunk.constData(), got);
        copied += qMax(written, qint64(0));
        if (written != got)
            break;
    }
    return copied;
}

enum class NameTest { Contains, Is, EndsWith };

struct NameRule
{
    NameTest test;
    const char *text;
    IMG_TYPE type;
};

// Tried in this order on the lower-case file name; the first match decides,
// so "rootfs_env.img" is an environment image and "kernel_bootloader.bin" a
// boot loader.
const NameRule NameRules[] = {
    {NameTest::Contains, "uboot", IMG_BOOT},
    {NameTest::Contains, "bootloader", IMG_BOOT},
    {NameTest::Contains, "env", IMG_ENV},
    {NameTest::Is, "uimage", IMG_KERNEL},
    {NameTest::Contains, "kernel", IMG_KERNEL},
    {NameTest::Contains, "factory", IMG_FACTORY},
    {NameTest::Contains, "rootfs", IMG_ROOTFS_16M},
    {NameTest::Contains, "usrdata", IMG_USRDATA_32M},
    {NameTest::Contains, "userdata", IMG_USRDATA_32M},
    {NameTest::Is, "app.bin", IMG_TAREL_APP},
    {NameTest::Contains, "tarel_app", IMG_TAREL_APP},
    {NameTest::Is, "fpga.bin", IMG_TAREL_FPGA},
    {NameTest::Contains, "tarel_fpga", IMG_TAREL_FPGA},
    {NameTest::Contains, "sensor", IMG_TAREL_8333_SENSOR},
    {NameTest::Contains, "8333", IMG_TAREL_8333_SENSOR},
    {NameTest::EndsWith, ".dtb", IMG_KERNEL},
};

bool matches(const NameRule &rule, const QString &name)
{
    const QLatin1String text(rule.text);
    switch (rule.test) {
    case NameTest::Contains:
        return name.contains(text);
    case NameTest::Is:
        return name == text;
    case NameTest::EndsWith:
        return name.endsWith(text);
    }
    return false;
}

} // namespace

int PackageSplitter::upgradeImag_parse_tarel_sky(
    const QString &input_img_path, QStringList &outPaths)
{
    int listed = 0;
    LOG_INFO << "upgradeImag_parse_tarel_sky";

    QFile input(input_img_path);
    if (!input.open(QIODevice::ReadOnly)) {
        LOG_WARNING << "Failed to open input image:" << input.errorString();
        return 0;
    }
    IMG_HEAD_INFO_EX header;
    if (input.read(reinterpret_cast<char *>(&header), sizeof(header)) != qint64(sizeof(header))) {
        qWarning() << "Invalid image header";
        return 0;
    }
    if (header.u32magic != IMG_PACKAGE_MAGIC) {
        LOG_WARNING << "Invalid magic number";
        return 0;
    }
    // The count byte is signed: a negative one turns into a huge count here
    // and is rejected as such.
    const quint32 numFiles = quint32(qint32(header.subImgNum));
    if (numFiles == 0 || numFiles > quint32(IMG_MAX_SUB_IMAGES)) {
        LOG_WARNING << "Invalid number of sub-images:" << numFiles;
        return 0;
    }

    const QDir outputDir(QDir::currentPath());
    const qint64 packageSize = input.size();
    const int last = int(numFiles) - 1;
    for (int i = 0; i <= last; ++i) {
        const IMG_SUB_IMG_INFO_T &info = header.subImgInfo[i];
        // Type 0 (boot) and offset 0 mark entries that are never extracted.
        if (info.s8imgType == 0 || info.u32subimgoffset == 0) {
            LOG_INFO << "Skipping invalid subimage at index" << i;
            continue;
        }
        const QString partPath = outputDir.filePath(partFileName(i, info.s8imgType));
        if (!input.seek(info.u32subimgoffset)) {
            LOG_WARNING << "Seek failed for subimage" << i << "at offset" << info.u32subimgoffset;
            continue;
        }

        // A sub-image runs up to the next descriptor's offset; the last one
        // runs to the end of the package.
        const qint64 offset = info.u32subimgoffset;
        qint64 length = packageSize - offset;
        if (i < last) {
            const qint64 next = header.subImgInfo[i + 1].u32subimgoffset;
            if (next <= offset) {
                LOG_WARNING << "Invalid next offset for subimage" << i;
                continue;
            }
            length = next - offset;
        }
        // Checked before the part file is opened, so a short sub-image leaves
        // an existing part file of the same name as it was.
        const qint64 remaining = packageSize - offset;
        if (length < 0 || remaining < length) {
            LOG_WARNING << "Read incomplete data for" << partPath << "(expected:" << length
                        << "actual:" << qMax(remaining, qint64(0)) << ")";
            continue;
        }

        // Unbuffered, so a full disk shows up as a short write here rather
        // than unnoticed at close.
        QFile part(partPath);
        if (!part.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            LOG_WARNING << "Failed to create output file:" << partPath;
            continue;
        }
        const qint64 written = copyBytes(input, part, length);
        if (written < length)
            LOG_WARNING << "Write failed for" << partPath;
        else
            LOG_INFO << "Extracted:" << partPath << "Size:" << written << "bytes";

        LOG_INFO << "#subImgInfo" << i << "is upgrade" << int(info.s8upgrade);
        // A part whose write came up short is listed all the same.
        if (info.s8upgrade != 0) {
            outPaths.append(partPath);
            ++listed;
        }
    }
    return listed;
}

IMG_TYPE PackageSplitter::getImgTypeFromFileName(const QString &upgradeFirmwareName)
{
    const QString name = QFileInfo(upgradeFirmwareName).fileName().toLower();
    for (const NameRule &rule : NameRules) {
        if (matches(rule, name))
            return rule.type;
    }
    return IMG_UNKNOWN;
}

QString PackageSplitter::partFileName(int index, int imgType)
{
    switch (imgType) {
    case IMG_TAREL_APP:
        return QStringLiteral("app.bin");
    case IMG_TAREL_FPGA:
        return QStringLiteral("fpga.bin");
    case IMG_TAREL_8333_SENSOR:
        return QStringLiteral("sensor.bin");
    case IMG_UNKNOWN:
        return QStringLiteral("other.bin");
    default:
        return QStringLiteral("part%1_type%2.bin").arg(index).arg(imgType);
    }
}
