// tavio-make-package: writes a multi-image package from part files, the parts
// in the order given on the command line.

#include "packagebuilder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTextStream>

namespace {

struct PartOption
{
    const char *name;
    IMG_TYPE type;
    const char *description;
};

const PartOption PartOptions[] = {
    {"app", IMG_TAREL_APP, "an application part"},
    {"fpga", IMG_TAREL_FPGA, "an FPGA part"},
    {"sensor", IMG_TAREL_8333_SENSOR, "a sensor part"},
    {"other", IMG_UNKNOWN, "a part of any other kind"},
};

const PartOption *findPartOption(const QString &name)
{
    for (const PartOption &option : PartOptions) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

int fail(const QString &message)
{
    QTextStream(stderr) << "tavio-make-package: " << message << '\n';
    return 1;
}

void printSummary(const QString &path, const PackageBuilder &builder, const QStringList &sources)
{
    const IMG_HEAD_INFO_EX header = builder.header();
    QTextStream out(stdout);
    out << "Wrote " << path << ": board " << header.u32BoardType << ", " << builder.parts().size()
        << " parts, " << QFileInfo(path).size() << " bytes\n";
    for (int i = 0; i < builder.parts().size(); ++i) {
        const IMG_SUB_IMG_INFO_T &info = header.subImgInfo[i];
        out << "  #" << i << " type " << int(info.s8imgType) << " offset " << info.u32subimgoffset
            << " size " << builder.parts().at(i).data.size() << " upgrade "
            << (info.s8upgrade ? "yes" : "no") << " from " << sources.at(i) << '\n';
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavio-make-package"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a multi-image package; the parts follow the header in the order given."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("Package file to write."));
    const QCommandLineOption boardOption(QStringLiteral("board"),
        QStringLiteral("Board type written to the header (default 0)."), QStringLiteral("N"),
        QStringLiteral("0"));
    parser.addOption(boardOption);
    for (const PartOption &option : PartOptions) {
        parser.addOption({QLatin1String(option.name),
            QStringLiteral("Adds FILE as %1 (image type %2); repeatable.")
                .arg(QLatin1String(option.description))
                .arg(option.type),
            QStringLiteral("FILE")});
    }
    const QCommandLineOption noUpgradeOption(QStringLiteral("no-upgrade"),
        QStringLiteral(
            "Clears the upgrade flag of every part of TYPE (app, fpga, sensor or other); "
            "repeatable."),
        QStringLiteral("TYPE"));
    parser.addOption(noUpgradeOption);
    parser.process(app);

    if (parser.positionalArguments().size() != 1)
        return fail(QStringLiteral("exactly one OUT file expected (see --help)"));
    const QString outPath = parser.positionalArguments().constFirst();

    bool boardOk = false;
    const quint32 board = parser.value(boardOption).toUInt(&boardOk, 0);
    if (!boardOk)
        return fail(QStringLiteral("invalid board type: %1").arg(parser.value(boardOption)));

    QSet<IMG_TYPE> noUpgrade;
    for (const QString &name : parser.values(noUpgradeOption)) {
        const PartOption *option = findPartOption(name);
        if (!option)
            return fail(QStringLiteral("unknown part type: %1").arg(name));
        noUpgrade.insert(option->type);
    }

    PackageBuilder builder;
    builder.setBoardType(board);
    builder.setBuildTime(quint64(QDateTime::currentSecsSinceEpoch()));
    // optionNames() keeps the command-line order and repeats, values() each
    // option's files in order: together they give the parts' order.
    QHash<QString, int> used;
    QStringList sources;
    for (const QString &name : parser.optionNames()) {
        const PartOption *option = findPartOption(name);
        if (!option)
            continue;
        const QString file = parser.values(name).at(used[name]++);
        QString error;
        if (!builder.addPartFromFile(option->type, file, !noUpgrade.contains(option->type), &error))
            return fail(error);
        sources.append(file);
    }
    if (sources.isEmpty())
        return fail(QStringLiteral("no parts given (see --help)"));

    QString error;
    if (!builder.write(outPath, &error))
        return fail(error);
    printSummary(outPath, builder, sources);
    return 0;
}
