#ifndef UPGRADEREPORT_H
#define UPGRADEREPORT_H

#include "upgradewait.h"

#include <QString>
#include <QtGlobal>

// What a sequence tells the user while it runs, from the sequence's thread.
// How it ended is not told here: that is the upgrade's outcome.
class UpgradeReport
{
public:
    // The bar's position, 0 to 100.
    virtual void progress(int percent) = 0;
    // A line of the settings page's log view.
    virtual void logText(const QString &text) = 0;
    // What the sequence is waiting for, told every second; a wait whose
    // phase is None when it is over.
    virtual void waiting(const UpgradeWait &wait) = 0;
    // The step machine moved to `step` (-1: idle).
    virtual void enteredStep(int step) = 0;
    // `sent` of the `total` bytes of the file or part in transfer were acknowledged.
    virtual void bytesSent(qint64 sent, qint64 total) = 0;

protected:
    ~UpgradeReport() = default;
};

#endif // UPGRADEREPORT_H
