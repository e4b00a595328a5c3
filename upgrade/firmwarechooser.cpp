#include "firmwarechooser.h"

#include "ARNetType.h"
#include "logging.h"

#include <QtEndian>
#include <algorithm>

namespace {
using Candidate = FirmwareChoice::Candidate;
using Reason = FirmwareChoice::Reason;
constexpr int MagicBytes = int(sizeof(IMG_PACKAGE_MAGIC));

// The rules and the kind, for one file whose name passes the name rule.
Reason judge(FirmwareShelf &shelf, const FirmwareShelf::Item &item, const QString &firmware, bool packageLine)
{
    const int match = FirmwareRules::matchName(firmware, item.location.fileName());
    if (match == FirmwareRules::CheckFormatError)
        return Reason::OtherDevice;
    if (match == FirmwareRules::CheckVersionError)
        return Reason::VersionTooLow;
    if (item.size == 0)
        return Reason::Empty;
    const QByteArray head = shelf.head(item, MagicBytes);
    if (head.isEmpty())
        return Reason::Unreadable;
    if (FirmwareChooser::isPackage(head) != packageLine)
        return packageLine ? Reason::ImageForPackageLine : Reason::PackageForImageLine;
    return Reason::Chosen; // fits
}

int versionOrder(const Candidate &a, const Candidate &b)
{
    return FirmwareRules::compareVersions(a.location.fileName(), b.location.fileName());
}

// Among the fitting files (their reason still Chosen): the newest is chosen;
// others of its version must hold the same bytes (each read whole, so
// `proceed` is asked before each).
void chooseNewest(FirmwareShelf &shelf, const QVector<FirmwareShelf::Item> &items,
                  const std::function<bool()> &proceed, FirmwareChoice *choice)
{
    QVector<Candidate> &candidates = choice->candidates;
    int newest = -1;
    for (int i = 0; i < candidates.size(); ++i) {
        if (candidates.at(i).reason == Reason::Chosen
            && (newest < 0 || versionOrder(candidates.at(i), candidates.at(newest)) > 0))
            newest = i;
    }
    if (newest < 0) {
        choice->verdict = FirmwareChoice::Verdict::NothingFits;
        return;
    }
    choice->verdict = FirmwareChoice::Verdict::Chosen;
    QByteArray newestMd5; // read only when another file has the newest version
    for (int i = 0; i < candidates.size(); ++i) {
        Candidate &candidate = candidates[i];
        if (i == newest || candidate.reason != Reason::Chosen)
            continue;
        if (versionOrder(candidate, candidates.at(newest)) < 0) {
            candidate.reason = Reason::Older;
            continue;
        }
        if (proceed && !proceed()) {
            choice->verdict = FirmwareChoice::Verdict::Unusable;
            return;
        }
        if (newestMd5.isEmpty())
            newestMd5 = shelf.md5(items.at(newest));
        const QByteArray md5 = shelf.md5(items.at(i));
        if (!md5.isEmpty() && md5 == newestMd5) {
            candidate.reason = Reason::SameContent;
            continue;
        }
        candidate.reason = Reason::DifferentContent;
        if (choice->verdict != FirmwareChoice::Verdict::Ambiguous)
            choice->rival = candidate;
        choice->verdict = FirmwareChoice::Verdict::Ambiguous;
    }
    choice->chosen = candidates.at(newest);
    if (choice->verdict == FirmwareChoice::Verdict::Ambiguous)
        candidates[newest].reason = Reason::DifferentContent;
    else if (FirmwareRules::compareVersions(choice->chosen.location.fileName(), choice->deviceFirmware) == 0)
        choice->verdict = FirmwareChoice::Verdict::UpToDate;
}

FirmwareChoice chooseFromFile(const QString &path, const char *firmware, FirmwareChoice choice)
{
    const FirmwareRules::FileJudgement judgement = FirmwareRules::judgeFile(firmware, path);
    choice.fileVerdict = judgement.verdict;
    choice.chosen = {ImageLocation(path), ImageLocation(path).fileName(), Reason::Chosen};
    const bool accepted = judgement.verdict == FirmwareRules::FileVerdict::Accepted;
    choice.verdict = accepted ? FirmwareChoice::Verdict::Chosen : FirmwareChoice::Verdict::Refused;
    return choice;
}
} // namespace

bool FirmwareChooser::isPackage(const QByteArray &head)
{
    return head.size() >= MagicBytes && qFromLittleEndian<quint32>(head.constData()) == IMG_PACKAGE_MAGIC;
}

FirmwareChoice FirmwareChooser::choose(const QString &path, const char *firmware, int boardType,
                                       const std::function<bool()> &proceed)
{
    FirmwareShelf shelf(path);
    FirmwareChoice choice;
    choice.sourceKind = shelf.kind();
    choice.sourcePath = path;
    choice.sourceName = shelf.name();
    choice.deviceFirmware = FirmwareRules::firmwareText(firmware);
    if (shelf.kind() == FirmwareShelf::Kind::File)
        return chooseFromFile(path, firmware, choice);
    const auto unusable = [&shelf, &choice] {
        choice.verdict = FirmwareChoice::Verdict::Unusable;
        choice.archiveProblem = shelf.archiveProblem();
        choice.problemEntry = shelf.problemEntry();
        return choice;
    };
    if (!shelf.open(proceed))
        return unusable();
    const bool packageLine = FirmwareRules::isMultiImageLine(boardType, firmware);
    QVector<FirmwareShelf::Item> items;
    for (const FirmwareShelf::Item &item : shelf.items()) {
        if (proceed && !proceed())
            return unusable();
        if (!FirmwareRules::isPackageNameValid(item.location.fileName()))
            continue; // not firmware at all: a note, a checksum list
        items.append(item);
        choice.candidates.append({item.location, item.shownPath, judge(shelf, item, choice.deviceFirmware, packageLine)});
    }
    chooseNewest(shelf, items, proceed, &choice);
    // Damage found while reading makes the whole archive unusable, as found on opening.
    if (shelf.archiveProblem() != FirmwareArchive::Problem::None)
        return unusable();
    LOG_INFO << "firmware choice from" << path << "for" << choice.deviceFirmware << ":" << int(choice.verdict)
             << choice.chosen.shownPath << "of" << choice.candidates.size() << "candidates";
    return choice;
}

QVector<Candidate> FirmwareChoice::nearestMisses(int count) const
{
    QVector<Candidate> misses;
    for (const Candidate &candidate : candidates)
        if (candidate.reason != Reason::Chosen)
            misses.append(candidate);
    const QStringList deviceParts = FirmwareRules::prefixOf(deviceFirmware).split(QLatin1Char('_'));
    const auto sharedPrefix = [&deviceParts](const Candidate &candidate) {
        const QStringList parts = FirmwareRules::prefixOf(candidate.location.fileName()).split(QLatin1Char('_'));
        int shared = 0;
        while (shared < parts.size() && shared < deviceParts.size() && parts.at(shared) == deviceParts.at(shared))
            ++shared;
        return shared;
    };
    const auto distance = [](Reason reason) {
        switch (reason) {
        case Reason::PackageForImageLine:
        case Reason::ImageForPackageLine:
            return 0;
        case Reason::VersionTooLow:
            return 1;
        case Reason::Empty:
        case Reason::Unreadable:
            return 2;
        default:
            return 3;
        }
    };
    std::stable_sort(misses.begin(), misses.end(), [&](const Candidate &a, const Candidate &b) {
        if (distance(a.reason) != distance(b.reason))
            return distance(a.reason) < distance(b.reason);
        if (a.reason == Reason::OtherDevice)
            return sharedPrefix(a) > sharedPrefix(b);
        return versionOrder(a, b) > 0;
    });
    return misses.mid(0, count);
}
