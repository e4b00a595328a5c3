#include "interruptwatcher.h"

#include <atomic>
#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
// Signals still to be told; the handler ends the process on the next one.
std::atomic<int> g_toldLeft{0};
static_assert(std::atomic<int>::is_always_lock_free, "used inside a signal handler");

// True when the signal is to be told; false when it ends the process.
bool takeTold()
{
    return g_toldLeft.fetch_sub(1) > 0;
}

#ifdef Q_OS_WIN
std::atomic<InterruptWatcher *> g_watcher{nullptr};

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (!takeTold())
        return FALSE; // the default handler ends the process
    InterruptWatcher::deliver(SIGINT);
    return TRUE;
}
#else
// Written by the handler, read by the watcher; one process-wide pipe.
int g_pipe[2] = {-1, -1};
const int WatchedSignals[] = {SIGINT, SIGTERM};

void onSignal(int signalNumber)
{
    if (takeTold()) {
        InterruptWatcher::deliver(signalNumber);
        return;
    }
    // Both are async-signal-safe; the signal, blocked inside its handler,
    // ends the process as soon as the handler returns.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

bool makeNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0
        && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}
#endif
} // namespace

#ifdef Q_OS_WIN

InterruptWatcher::InterruptWatcher(int toldSignals, QObject *parent)
    : QObject(parent)
{
    g_toldLeft.store(toldSignals);
    g_watcher.store(this);
    m_watching = SetConsoleCtrlHandler(onConsoleControl, TRUE) != 0;
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    g_watcher.store(nullptr);
}

void InterruptWatcher::deliver(int signalNumber)
{
    if (InterruptWatcher *watcher = g_watcher.load())
        QMetaObject::invokeMethod(watcher, [watcher, signalNumber] { emit watcher->interrupted(signalNumber); },
                                  Qt::QueuedConnection);
}

// Posted signals arrive through the event loop; nothing is held back here.
void InterruptWatcher::drain()
{
}

#else

InterruptWatcher::InterruptWatcher(int toldSignals, QObject *parent)
    : QObject(parent)
{
    g_toldLeft.store(toldSignals);
    if (::pipe(g_pipe) != 0)
        return;
    if (!makeNonBlocking(g_pipe[0]) || !makeNonBlocking(g_pipe[1]))
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &InterruptWatcher::drain);
    m_watching = true;
}

InterruptWatcher::~InterruptWatcher()
{
    for (int signalNumber : WatchedSignals)
        ::signal(signalNumber, SIG_DFL);
    m_notifier.reset();
    for (int &fd : g_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptWatcher::deliver(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Nothing to do if the pipe is full: interrupts enough are on their way.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void InterruptWatcher::drain()
{
    unsigned char byte = 0;
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], &byte, 1) == 1)
        emit interrupted(byte);
}

#endif
