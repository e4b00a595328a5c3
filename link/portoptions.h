#ifndef PORTOPTIONS_H
#define PORTOPTIONS_H

#include "serialportlister.h"

class QCommandLineParser;

// The command-line options that add one port with a given USB identity:
// --port PATH --vid N [--manufacturer TEXT].
namespace PortOptions {

void addTo(QCommandLineParser &parser);

// The system's ports, plus the port the options name. Returns null and sets
// `error` when the options are incomplete or the identifier is not a number.
SharedPortLister listerFrom(const QCommandLineParser &parser, QString *error);

// Every port the options name, for a program that takes several: the n-th
// --port goes with the n-th --vid (and --manufacturer), or with the only one
// given; without --vid, with the identity `system` lists for the port. A
// relative path is taken from the working directory. False, with `error` set,
// when they do not pair, an identifier is not a number, or neither gives one.
bool portsFrom(const QCommandLineParser &parser, const SerialPortLister &system, QList<SerialPortDescription> *ports,
               QString *error);

} // namespace PortOptions

#endif // PORTOPTIONS_H
