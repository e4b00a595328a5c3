#ifndef PORTACCESS_H
#define PORTACCESS_H

#include <QString>

// Whether the user may open a serial port's device file. A port that is there
// but may not be read and written is the usual failure on a fresh Linux
// machine; unlike a missing device it has a cure, which deniedText() names.
struct PortAccess
{
    QString path;           // the device file: "/dev/ttyACM0" for "ttyACM0"
    bool exists = false;
    bool readWrite = false; // the user may read and write it
    QString group;          // the group that owns it

    // What the file system says of the port's device file, for this user.
    static PortAccess of(const QString &portName);
    // The device file of a port name: a path stays as it is.
    static QString pathOf(const QString &portName);

    bool denied() const { return exists && !readWrite; }
    // How to get access (the udev rule, or the port's group), translated.
    QString deniedText() const;
};

#endif // PORTACCESS_H
