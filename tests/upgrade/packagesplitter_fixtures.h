#ifndef PACKAGESPLITTER_FIXTURES_H
#define PACKAGESPLITTER_FIXTURES_H

#include "packagebuilder.h"
#include "packagesplitter.h"

#include <QMetaType>

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>

// Helpers of the package splitter test: the captured log, sub-image bytes
// and packages, and the files of the working directory.

Q_DECLARE_METATYPE(PackageSplitter::SplitError)
// Found by QCOMPARE through argument-dependent lookup, so a failed comparison
// names the error codes.
char *toString(PackageSplitter::SplitError error);

struct LogLine
{
    QtMsgType type;
    QString text;
};

// Collects every message from start to stop, in order.
void startLogCapture();
void stopLogCapture();
const QVector<LogLine> &capturedLines();
// True when a line of that level reads exactly `text` after the splitter's
// log prefix (or with no prefix at all).
bool logged(QtMsgType type, const QString &text, bool withPrefix = true);
QString logDump();

#define QVERIFY_LOGGED(...) QVERIFY2(logged(__VA_ARGS__), qPrintable(logDump()))

// The prefix the log helpers put before each of the splitter's messages, as
// the start of a regular expression.
extern const QString SplitterPrefix;
extern const QString IncompleteRead;

// Larger than the splitter's copy chunk and not a multiple of it.
constexpr int AppSize = 200 * 1024;
constexpr int SmallSize = 3000;

// Bytes that differ from part to part and along a part, so a part cut at a
// wrong offset or copied out of order cannot pass.
QByteArray pattern(int size, int seed);
// Application, FPGA and sensor parts of SmallSize, seeds 1, 2 and 3.
PackageBuilder appFpgaSensor();
// The builder's package with its header changed by `edit`.
QByteArray edited(
    const PackageBuilder &builder, const std::function<void(IMG_HEAD_INFO_EX &)> &edit);

QByteArray readFile(const QString &path);
QString outputPath(const QString &name);
QStringList outputFiles();

#endif // PACKAGESPLITTER_FIXTURES_H
