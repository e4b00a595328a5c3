#ifndef DEVICELINKFILE_H
#define DEVICELINKFILE_H

#include <QString>

// A fixed path that always leads to the simulator's current pty, so a
// program can be pointed at one port name across reboots. The link exists
// only while the device is present.
class DeviceLinkFile
{
public:
    DeviceLinkFile() = default;
    ~DeviceLinkFile();
    DeviceLinkFile(const DeviceLinkFile &) = delete;
    DeviceLinkFile &operator=(const DeviceLinkFile &) = delete;

    // Remembers the path. Refuses a path taken by anything but a symbolic
    // link, so a mistyped option never destroys a real file.
    bool setPath(const QString &path, QString *error);
    QString path() const { return m_path; }

    // Points the link at `target`, replacing it in one step.
    bool pointAt(const QString &target, QString *error);
    void remove();

private:
    QString m_path;
};

#endif // DEVICELINKFILE_H
