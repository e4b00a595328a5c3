#ifndef FIRMWAREDIALOG_H
#define FIRMWAREDIALOG_H

#include <QString>

class QWidget;

// The open-file dialog for a firmware file: it starts in the folder of the
// last file chosen (kept in setting.ini), else in the user's home, and
// offers images and zip archives first, then every file.
namespace FirmwareDialog {

// Empty when the user cancelled.
QString ask(QWidget *parent);
// Where the dialog starts, and what it remembers of a chosen file.
QString startFolder();
void remember(const QString &chosenFile);

} // namespace FirmwareDialog

#endif // FIRMWAREDIALOG_H
