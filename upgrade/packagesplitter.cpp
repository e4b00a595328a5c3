#include "packagesplitter.h"

#include "logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVector>

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN,
    "the package header is read as a byte image of little-endian fields");

namespace {

// Sub-images are copied through a buffer of this size, so a package of any
// size is split with bounded memory.
constexpr qint64 CopyChunkSize = 64 * 1024;

enum class PartOutcome { Extracted, SeekFailed, CannotCreate, ShortRead, ShortWrite };

// Copies `length` bytes from the current position of `from` to `to`, counting
// what was written in `copied`; stops early at a short read or write.
PartOutcome copyBytes(QIODevice &from, QIODevice &to, qint64 length, qint64 &copied)
{
    QByteArray chunk(int(qMin(length, CopyChunkSize)), Qt::Uninitialized);
    copied = 0;
    while (copied < length) {
        const qint64 got = from.read(chunk.data(), qMin(length - copied, CopyChunkSize));
        if (got <= 0)
            return PartOutcome::ShortRead;
        const qint64 written = to.write(chunk.constData(), got);
        copied += qMax(written, qint64(0));
        if (written != got)
            return PartOutcome::ShortWrite;
    }
    return PartOutcome::Extracted;
}

// A descriptor that passed every check, to be extracted.
struct PartPlan
{
    int index;
    qint64 offset;
    qint64 length;
    QString path;
    int upgrade; // the descriptor's flag as it stands; nonzero lists the part
};

// Writes one part; `written` gains its path as soon as the file is opened, so
// a part that failed halfway is removed with the others. The caller logs, so
// the log prefix names the splitter's entry point.
PartOutcome extractPart(QFile &input, const PartPlan &part, QStringList &written, qint64 &copied)
{
    copied = 0;
    if (!input.seek(part.offset))
        return PartOutcome::SeekFailed;
    // Unbuffered, so a full disk shows up as a short write here rather
    // than unnoticed at close.
    QFile file(part.path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return PartOutcome::CannotCreate;
    // Two descriptors of the same fixed name write the same file.
    if (!written.contains(part.path))
        written.append(part.path);
    return copyBytes(input, file, part.length, copied);
}

// Removes the files and returns those that are still there.
QStringList removeFiles(const QStringList &paths)
{
    QStringList kept;
    for (const QString &path : paths) {
        if (!QFile::remove(path))
            kept.append(path);
    }
    return kept;
}

using SplitError = PackageSplitter::SplitError;

constexpr qint64 HeaderSize = sizeof(IMG_HEAD_INFO_EX);

// Offset 0 marks an unused entry; only entries before the first used one may
// be unused, since a sub-image ends where the next entry starts. Each used
// entry starts after the header, after the entry before it (so no two
// sub-images overlap and none is empty) and before the end of the package.
SplitError checkLayout(const IMG_HEAD_INFO_EX &header, int count, qint64 packageSize)
{
    qint64 previous = 0; // the offset of the last used entry
    for (int i = 0; i < count; ++i) {
        const qint64 offset = header.subImgInfo[i].u32subimgoffset;
        if (offset == 0 && previous == 0)
            continue;
        if (offset != 0 && offset < HeaderSize) {
            LOG_WARNING << "Subimage" << i << "starts inside the header at offset" << offset;
            return SplitError::InsideHeader;
        }
        if (offset <= previous) {
            LOG_WARNING << "Subimage" << i << "at offset" << offset << "does not follow the one before at"
                        << previous;
            return SplitError::Overlapping;
        }
        if (offset >= packageSize) {
            LOG_WARNING << "Subimage" << i << "at offset" << offset << "runs past the end of the package of"
                        << packageSize << "bytes";
            return SplitError::Damaged;
        }
        previous = offset;
    }
    return SplitError::None;
}

int rejected(SplitError *error, SplitError reason)
{
    if (error)
        *error = reason;
    return 0;
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

int PackageSplitter::upgradeImag_parse_tarel_sky(const QString &input_img_path,
    QStringList &outPaths, const QString &outputDir, SplitError *error)
{
    LOG_INFO << "upgradeImag_parse_tarel_sky";

    QFile input(input_img_path);
    if (!input.open(QIODevice::ReadOnly)) {
        LOG_WARNING << "Failed to open input image:" << input.errorString();
        return rejected(error, SplitError::CannotOpen);
    }
    IMG_HEAD_INFO_EX header;
    if (input.read(reinterpret_cast<char *>(&header), sizeof(header)) != qint64(sizeof(header))) {
        qWarning() << "Invalid image header";
        return rejected(error, SplitError::BadHeader);
    }
    if (header.u32magic != IMG_PACKAGE_MAGIC) {
        LOG_WARNING << "Invalid magic number";
        return rejected(error, SplitError::BadMagic);
    }
    // The count byte is signed: a negative one turns into a huge count here
    // and is rejected as such.
    const quint32 numFiles = quint32(qint32(header.subImgNum));
    if (numFiles == 0 || numFiles > quint32(IMG_MAX_SUB_IMAGES)) {
        LOG_WARNING << "Invalid number of sub-images:" << numFiles;
        return rejected(error, SplitError::BadCount);
    }

    // The whole layout is checked before anything is written: a package that
    // is malformed anywhere is refused whole, never sent in part, and a part
    // never carries another's bytes or the header's.
    const qint64 packageSize = input.size();
    const SplitError layout = checkLayout(header, int(numFiles), packageSize);
    if (layout != SplitError::None)
        return rejected(error, layout);

    const QDir dir(outputDir.isEmpty() ? QDir::currentPath() : QDir(outputDir).absolutePath());
    const int last = int(numFiles) - 1;
    QVector<PartPlan> plan;
    for (int i = 0; i <= last; ++i) {
        const IMG_SUB_IMG_INFO_T &info = header.subImgInfo[i];
        // Type 0 (boot) and offset 0 mark entries that are never extracted.
        if (info.s8imgType == 0 || info.u32subimgoffset == 0) {
            LOG_INFO << "Skipping invalid subimage at index" << i;
            continue;
        }
        // A sub-image runs up to the next descriptor's offset; the last one
        // runs to the end of the package.
        const qint64 offset = info.u32subimgoffset;
        const qint64 end = i < last ? qint64(header.subImgInfo[i + 1].u32subimgoffset) : packageSize;
        plan.append({i, offset, end - offset, dir.filePath(partFileName(i, info.s8imgType)),
                     int(info.s8upgrade)});
    }

    QStringList written;
    QStringList listed;
    SplitError failure = SplitError::None;
    for (const PartPlan &part : qAsConst(plan)) {
        qint64 copied = 0;
        const PartOutcome outcome = extractPart(input, part, written, copied);
        switch (outcome) {
        case PartOutcome::SeekFailed:
            LOG_WARNING << "Seek failed for subimage" << part.index << "at offset" << part.offset;
            failure = SplitError::Damaged;
            break;
        case PartOutcome::CannotCreate:
            LOG_WARNING << "Failed to create output file:" << part.path;
            failure = SplitError::CannotWrite;
            break;
        case PartOutcome::ShortRead:
            LOG_WARNING << "Read incomplete data for" << part.path << "(expected:" << part.length
                        << "actual:" << copied << ")";
            failure = SplitError::Damaged;
            break;
        case PartOutcome::ShortWrite:
            LOG_WARNING << "Write failed for" << part.path;
            failure = SplitError::CannotWrite;
            break;
        case PartOutcome::Extracted:
            LOG_INFO << "Extracted:" << part.path << "Size:" << copied << "bytes";
            break;
        }
        if (failure != SplitError::None)
            break;
        LOG_INFO << "#subImgInfo" << part.index << "is upgrade" << part.upgrade;
        if (part.upgrade != 0)
            listed.append(part.path);
    }
    if (failure == SplitError::None && listed.isEmpty())
        failure = SplitError::NothingToSend;
    // Nothing partial stays behind, nor parts nobody will send.
    if (failure != SplitError::None) {
        const QStringList kept = removeFiles(written);
        if (!kept.isEmpty())
            LOG_WARNING << "Cannot remove part files:" << kept;
        return rejected(error, failure);
    }
    outPaths += listed;
    if (error)
        *error = SplitError::None;
    return listed.size();
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
