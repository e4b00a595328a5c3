#ifndef PSEUDOTERMINAL_H
#define PSEUDOTERMINAL_H

#include <QString>

// One pseudo-terminal pair. The master is the device's end; the slave path is
// what the program opens as its serial port. One slave descriptor stays open
// for the pair's whole life: without it the master reports a hang-up every
// time the program closes its port, and a read notifier on it would spin.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Creates a new pair in raw mode with a non-blocking master.
    bool open(QString *error);
    // Closing the master hangs up the slave: the program sees its port fail.
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Puts a terminal descriptor in raw mode; false on failure.
    static bool makeRaw(int fd);

    // Bytes written to the master that the slave side has not read yet.
    int unreadBySlave() const;

private:
    int m_master = -1;
    int m_heldSlave = -1;
    QString m_slavePath;
};

#endif // PSEUDOTERMINAL_H
