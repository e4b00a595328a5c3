#ifndef FIRMWARECHOICE_H
#define FIRMWARECHOICE_H

#include "firmwarearchive.h"
#include "firmwarerules.h"
#include "firmwareshelf.h"
#include "imagelocation.h"

#include <QString>
#include <QVector>

// Which file of a folder or archive a device gets, and why: what the
// chooser decided, with every file it considered.
struct FirmwareChoice
{
    enum class Verdict {
        Chosen,      // the newest file that fits, newer than the device's firmware
        UpToDate,    // the newest file that fits is the device's own version: nothing to send
        NothingFits, // no file fits the device
        Ambiguous,   // two files of the newest version differ
        Refused,     // a file given alone was refused by the rules (`fileVerdict`)
        Unusable,    // the folder cannot be read or the archive is unusable
    };

    // Why a file was not chosen (or that it was).
    enum class Reason {
        Chosen,
        OtherDevice,      // its prefix is another device's
        VersionTooLow,    // older than the device's firmware
        PackageForImageLine, // a multi-image package for a device that takes single images
        ImageForPackageLine, // a single image for the multi-image line
        Empty,
        Unreadable,
        Older,            // fits, but a newer one does too
        SameContent,      // of the chosen version, with the chosen file's bytes
        DifferentContent, // of the newest version, with other bytes than the chosen one
    };

    struct Candidate
    {
        ImageLocation location;
        QString shownPath; // within the folder or archive
        Reason reason = Reason::Chosen;
    };

    Verdict verdict = Verdict::Unusable;
    FirmwareShelf::Kind sourceKind = FirmwareShelf::Kind::File;
    QString sourcePath;
    QString sourceName; // the folder's or archive's name
    QString deviceFirmware;
    Candidate chosen; // Chosen, UpToDate, Ambiguous: the file chosen, or the first of the two
    Candidate rival;  // Ambiguous: the second
    QVector<Candidate> candidates; // every file whose name passes the name rule, in the source's order
    FirmwareRules::FileVerdict fileVerdict = FirmwareRules::FileVerdict::Accepted; // Refused
    FirmwareArchive::Problem archiveProblem = FirmwareArchive::Problem::None; // Unusable
    QString problemEntry; // Unusable: the archive's entry at fault

    // A file is to be sent: chosen, or up to date and sent again all the same.
    bool sends(bool reflash) const
    {
        return verdict == Verdict::Chosen || (reflash && verdict == Verdict::UpToDate);
    }
    // The choice names a file: the one chosen, or refused alone.
    bool namesFile() const { return verdict != Verdict::NothingFits && verdict != Verdict::Unusable; }
    bool fromFolderOrArchive() const { return sourceKind != FirmwareShelf::Kind::File; }
    // The files closest to fitting, nearest first: the right device and
    // version in the wrong kind, then the right device's older versions,
    // newest first, then other devices' sharing most of the prefix.
    QVector<Candidate> nearestMisses(int count) const;
};

#endif // FIRMWARECHOICE_H
