#ifndef FIRMWARERULES_H
#define FIRMWARERULES_H

#include "ARNetType.h"

#include <QString>

// Decides from names alone whether an image file may go to the connected
// device. Stateless: the upgrade page forwards its members of the same names,
// and the page and the command judge a chosen file with judgeFile().
class FirmwareRules
{
public:
    // Results of checkPrefixAndVersion; the log calls them OK, FORMAT_ERR and VERSION_ERR.
    enum CheckResult {
        CheckOk = 0,
        CheckFormatError = -1,
        CheckVersionError = -2,
    };

    // Results of checkFirmware.
    enum UnitKind {
        UnitNone = -1,
        UnitOther = 0,
        UnitGround = 1,
        UnitSky = 2,
    };

    // What judgeFile() decided about a chosen file.
    enum class FileVerdict { Accepted, BadName, WrongDevice, VersionTooLow, EmptyFile, NotAFile };

    struct FileJudgement
    {
        FileVerdict verdict = FileVerdict::Accepted;
        int check = CheckOk; // checkPrefixAndVersion's result, when it ran
    };

    // The device reports its firmware string in a fixed field that need not
    // end in a NUL; nothing beyond it is ever read.
    static constexpr int FirmwareCapacity = int(sizeof(ar_device_info::firmwareInfo));

    FirmwareRules() = delete;

    static bool isPackageNameValid(const QString &filePath);
    static int checkPrefixAndVersion(const char *m_firmware, const QString &m_fileName);
    static int checkFirmware(const char *firmware);
    static QString getDeviceName(const QString &firmwareStr);
    static bool isMultiImageLine(int boardType, const char *firmware);

    // The name rule first, then the file's type and size, then the prefix and
    // version rules on the name of the file at `filePath`.
    static FileJudgement judgeFile(const char *firmware, const QString &filePath);
    // Only a regular file with something in it can be an image. Decided from
    // the file's entry (links followed) without opening it: opening a named
    // pipe blocks, and a device such as /dev/zero never ends. A file that does
    // not exist is accepted here and left to whoever opens it to report.
    static FileVerdict judgeFileType(const QString &filePath);
    // True when the file's name announces exactly this firmware: the same
    // prefix and the same version (a device checked after its upgrade).
    static bool isAnnouncedFirmware(const char *firmware, const QString &fileName);
    // The firmware a file's name announces: its name up to the first dot.
    static QString announcedFirmware(const QString &filePath);
    // The rules' comparison of a firmware string with a file name, without
    // the log lines checkPrefixAndVersion() writes: for judging many files.
    static int matchName(const QString &firmware, const QString &fileName);
    // How the version of name `a` compares with that of name `b` (both names
    // without extension, or file names): -1 lower, 0 equal, 1 higher, by the
    // rules' own comparison (a missing trailing number counts as 0).
    static int compareVersions(const QString &a, const QString &b);
    // A name's prefix and its version, as the rules split them ("Merlow_R_Sky",
    // "1_0_5"); the prefix is empty when the name has none.
    static QString prefixOf(const QString &name);
    static QString versionOf(const QString &name);
    // The firmware string as text: at most FirmwareCapacity bytes of UTF-8.
    static QString firmwareText(const char *firmware);
    // Why a file was refused, untranslated, in the upgrade page's catalogue
    // context ("UpgradePage"); null when it was accepted.
    static const char *refusalText(FileVerdict verdict);
};

#endif // FIRMWARERULES_H
