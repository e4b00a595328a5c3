#ifndef SIMSTATE_H
#define SIMSTATE_H

#include "simscript.h"
#include "simtypes.h"

#include <QList>
#include <QMutex>
#include <QStringList>

// Everything both the simulator thread and its users touch, under one lock:
// the settings, the script and what the device has seen so far.
struct SimState
{
    mutable QMutex mutex;
    DeviceIdentity identity;
    SimScript script;
    QList<SimFrameRecord> frames;
    QList<SimReceivedFile> files;
    QStringList rebootModes;
    QString slavePath;
    QString linkPath;
};

#endif // SIMSTATE_H
