// Fuzzes the package splitter: the input is written as a package file in a
// private working folder, split there, and the part files are checked and
// removed again.

#include "fuzzsupport.h"
#include "packagesplitter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

namespace {

const QString PackageName = QStringLiteral("package.img");
// Stands for paths a caller had listed before; the splitter must keep them.
const QString EarlierPath = QStringLiteral("listed-before");

std::unique_ptr<QTemporaryDir> workDir;

// What the splitter accepts before it writes anything.
bool headerIsAccepted(const QByteArray &package)
{
    IMG_HEAD_INFO_EX header;
    if (package.size() < int(sizeof(header)))
        return false;
    std::memcpy(&header, package.constData(), sizeof(header));
    return header.u32magic == IMG_PACKAGE_MAGIC && header.subImgNum >= 1
        && header.subImgNum <= IMG_MAX_SUB_IMAGES;
}

QStringList partFiles()
{
    QStringList files = QDir::current().entryList(QDir::Files | QDir::Hidden | QDir::System);
    files.removeAll(PackageName);
    return files;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::silenceQtMessages();
    new QCoreApplication(*argc, *argv); // lives as long as the process
    workDir.reset(new QTemporaryDir(QDir::temp().filePath(QStringLiteral("tavio-fuzz-package-XXXXXX"))));
    FUZZ_CHECK(workDir->isValid());
    FUZZ_CHECK(QDir::setCurrent(workDir->path()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray package(reinterpret_cast<const char *>(data), int(size));
    QFile packageFile(PackageName);
    FUZZ_CHECK(packageFile.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(packageFile.write(package) == package.size());
    packageFile.close();

    QStringList outPaths{EarlierPath};
    PackageSplitter::SplitError error = PackageSplitter::SplitError::None;
    const int listed
        = PackageSplitter::upgradeImag_parse_tarel_sky(PackageName, outPaths, QString(), &error);

    FUZZ_CHECK(listed >= 0 && listed <= IMG_MAX_SUB_IMAGES);
    FUZZ_CHECK(listed == outPaths.size() - 1);
    FUZZ_CHECK(outPaths.first() == EarlierPath);
    const QString here = QDir::current().canonicalPath();
    for (int i = 1; i < outPaths.size(); ++i) {
        const QFileInfo part(outPaths.at(i));
        FUZZ_CHECK(part.exists());
        FUZZ_CHECK(part.canonicalPath() == here);
    }

    // A split that lists nothing says why and leaves no part file behind.
    const QStringList parts = partFiles();
    FUZZ_CHECK((listed > 0) == (error == PackageSplitter::SplitError::None));
    if (listed == 0)
        FUZZ_CHECK(parts.isEmpty());
    if (!headerIsAccepted(package))
        FUZZ_CHECK(error == PackageSplitter::SplitError::BadHeader
            || error == PackageSplitter::SplitError::BadMagic
            || error == PackageSplitter::SplitError::BadCount);
    FUZZ_CHECK(parts.size() <= IMG_MAX_SUB_IMAGES);
    for (const QString &part : parts) {
        // A sub-image is a run of the package's bytes after its header, never
        // more, and never empty.
        QFile file(part);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        FUZZ_CHECK(!bytes.isEmpty());
        FUZZ_CHECK(package.indexOf(bytes, int(sizeof(IMG_HEAD_INFO_EX))) >= 0);
        FUZZ_CHECK(file.remove());
    }
    FUZZ_CHECK(QFile::remove(PackageName));
    return 0;
}
