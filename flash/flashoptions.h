#ifndef FLASHOPTIONS_H
#define FLASHOPTIONS_H

#include "serialportlister.h"

#include <QList>
#include <QString>
#include <QStringList>

// The command line of tavio-flash.
struct FlashOptions
{
    enum class Command { List, Info, Upgrade, Help, Version };

    Command command = Command::Help;
    QString file;                     // upgrade: the image or package, or a folder or zip archive of them
    QList<SerialPortDescription> ports; // --port/--vid/--manufacturer, in order
    bool all = false;   // upgrade: every recognised device attached at the start
    bool watch = false; // upgrade: station mode, each newly attached device once (on `ports`, if any)
    bool verify = false;
    bool dryRun = false;  // upgrade: tell each device's file, send nothing
    bool reflash = false; // upgrade: send a device its own version again
    QString ledgerPath;
    bool json = false;
    bool yes = false;
    QString logPath;
    int timeoutSeconds = 0; // upgrade: each device's time from its connection on; 0: the protocol's limits
    int clockFactor = 1; // hidden --clock-factor: a fast clock for tests

    // False, with `error` set, when the command line is wrong.
    // A --port without --vid takes the identity `system` lists for it.
    static bool parse(const QStringList &arguments, const SerialPortLister &system, FlashOptions *options,
                      QString *error);
    static QString helpText();
};

#endif // FLASHOPTIONS_H
