#ifndef FIRMWARECHOOSER_H
#define FIRMWARECHOOSER_H

#include "firmwarechoice.h"

#include <functional>

// Chooses the file a device gets from a folder (with its sub-folders) or a
// zip archive: among the files whose names pass the name rule, those that
// pass the device's prefix and version rules and whose kind fits its line (a
// multi-image package, known by its header's magic number, for the
// multi-image line; a single image for every other) fit; the newest fitting
// one is chosen. A single file is judged by the rules as it always was.
namespace FirmwareChooser {

// `firmware` is the device's firmware field; `boardType` its vendor identifier.
// A search `proceed` says no to ends early, its choice unusable.
FirmwareChoice choose(const QString &path, const char *firmware, int boardType,
                      const std::function<bool()> &proceed = {});

// A multi-image package starts with its header's magic number.
bool isPackage(const QByteArray &head);

} // namespace FirmwareChooser

#endif // FIRMWARECHOOSER_H
