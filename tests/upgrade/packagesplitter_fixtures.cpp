#include "packagesplitter_fixtures.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {
QVector<LogLine> lines;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    lines.append({type, text});
}
} // namespace

char *toString(PackageSplitter::SplitError error)
{
    using E = PackageSplitter::SplitError;
    const char *name = "?";
    switch (error) {
    case E::None: name = "None"; break;
    case E::CannotOpen: name = "CannotOpen"; break;
    case E::BadHeader: name = "BadHeader"; break;
    case E::BadMagic: name = "BadMagic"; break;
    case E::BadCount: name = "BadCount"; break;
    case E::Damaged: name = "Damaged"; break;
    case E::CannotWrite: name = "CannotWrite"; break;
    case E::NothingToSend: name = "NothingToSend"; break;
    }
    return qstrdup(name);
}

const QString SplitterPrefix
    = QStringLiteral("^\\[func: upgradeImag_parse_tarel_sky , line: \\d+ \\]  ");
const QString IncompleteRead
    = QStringLiteral("Read incomplete data for \"%1\" (expected: %2 actual: %3 )");

void startLogCapture()
{
    lines.clear();
    previousHandler = qInstallMessageHandler(captureMessage);
}

void stopLogCapture()
{
    qInstallMessageHandler(previousHandler);
}

const QVector<LogLine> &capturedLines()
{
    return lines;
}

bool logged(QtMsgType type, const QString &text, bool withPrefix)
{
    const QRegularExpression expected((withPrefix ? SplitterPrefix : QStringLiteral("^"))
        + QRegularExpression::escape(text) + QLatin1Char('$'));
    for (const LogLine &line : qAsConst(lines)) {
        if (line.type == type && expected.match(line.text).hasMatch())
            return true;
    }
    return false;
}

QString logDump()
{
    QString out = QStringLiteral("captured log:");
    for (const LogLine &line : qAsConst(lines))
        out += QStringLiteral("\n  [%1] %2").arg(line.type).arg(line.text);
    return out;
}

QByteArray pattern(int size, int seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + i / 251 + seed * 13);
    return out;
}

PackageBuilder appFpgaSensor()
{
    PackageBuilder builder;
    builder.addPart(IMG_TAREL_APP, pattern(SmallSize, 1));
    builder.addPart(IMG_TAREL_FPGA, pattern(SmallSize, 2));
    builder.addPart(IMG_TAREL_8333_SENSOR, pattern(SmallSize, 3));
    return builder;
}

QByteArray edited(
    const PackageBuilder &builder, const std::function<void(IMG_HEAD_INFO_EX &)> &edit)
{
    IMG_HEAD_INFO_EX header = builder.header();
    edit(header);
    return PackageBuilder::headerBytes(header) + builder.payload();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString outputPath(const QString &name)
{
    return QDir(QDir::currentPath()).filePath(name);
}

QStringList outputFiles()
{
    return QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}
