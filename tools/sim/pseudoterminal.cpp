#include "pseudoterminal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr size_t SlaveNameCapacity = 128;

QString systemError(const char *call)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(call),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

bool setMode(int fd, int statusFlags, int descriptorFlags)
{
    const int status = ::fcntl(fd, F_GETFL);
    const int descriptor = ::fcntl(fd, F_GETFD);
    return status >= 0 && descriptor >= 0 && ::fcntl(fd, F_SETFL, status | statusFlags) == 0
        && ::fcntl(fd, F_SETFD, descriptor | descriptorFlags) == 0;
}

} // namespace

// Raw mode for everyone who opens the slave before setting it up: no echo of
// requests back to the program, no line editing of binary frames.
bool PseudoTerminal::makeRaw(int fd)
{
    termios mode;
    if (::tcgetattr(fd, &mode) != 0)
        return false;
    ::cfmakeraw(&mode);
    return ::tcsetattr(fd, TCSANOW, &mode) == 0;
}

PseudoTerminal::~PseudoTerminal()
{
    close();
}

bool PseudoTerminal::open(QString *error)
{
    close();
    const char *failed = nullptr;
    char name[SlaveNameCapacity] = {};
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        failed = "posix_openpt";
    else if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        failed = "unlockpt";
    else if (::ptsname_r(m_master, name, sizeof(name)) != 0)
        failed = "ptsname";
    else if ((m_heldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0)
        failed = "open slave";
    else if (!makeRaw(m_heldSlave))
        failed = "raw mode";
    else if (!setMode(m_master, O_NONBLOCK, FD_CLOEXEC))
        failed = "fcntl";

    if (failed) {
        *error = systemError(failed);
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    return true;
}

void PseudoTerminal::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_heldSlave >= 0)
        ::close(m_heldSlave);
    m_master = -1;
    m_heldSlave = -1;
    m_slavePath.clear();
}

int PseudoTerminal::unreadBySlave() const
{
    int pending = 0;
    if (m_heldSlave < 0 || ::ioctl(m_heldSlave, FIONREAD, &pending) != 0)
        return 0;
    return pending;
}
