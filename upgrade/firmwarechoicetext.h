#ifndef FIRMWARECHOICETEXT_H
#define FIRMWARECHOICETEXT_H

#include "firmwarechoice.h"

#include <QString>

// What a firmware choice tells the user, translated (the catalogue context
// "FirmwareChoice"): the window's note and warnings, the command's lines.
namespace FirmwareChoiceText {

// Near misses named when nothing fits.
constexpr int NamedMisses = 3;

// "Merlow_R_Sky_1_0_6.img from release.zip: 1_0_5 → 1_0_6"; a file given
// alone: its name.
QString chosenNote(const FirmwareChoice &choice);
// The device runs the newest file's version already.
QString upToDateNote(const FirmwareChoice &choice);
// Why nothing is sent: empty for a choice that sends a file.
QString refusal(const FirmwareChoice &choice);
// Why the folder cannot be read or the archive cannot be used (open() failed).
QString unusable(const FirmwareShelf &shelf);
// Why an archive cannot be used.
QString archiveProblem(const QString &archiveName, FirmwareArchive::Problem problem, const QString &entry);
// The chosen entry could not be written into the program's temporary folder.
QString notExtracted(const QString &fileName, const QString &folder, const QString &error);
QString reason(FirmwareChoice::Reason reason);
// A short fixed word for each reason, for the command's JSON.
QString reasonCode(FirmwareChoice::Reason reason);

} // namespace FirmwareChoiceText

#endif // FIRMWARECHOICETEXT_H
