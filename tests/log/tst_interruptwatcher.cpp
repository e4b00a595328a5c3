#include "interruptwatcher.h"

#include <QtTest>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TestInterruptWatcher : public QObject
{
    Q_OBJECT

private slots:
    // Whatever the program is doing when the next signal comes, the signal ends it.
    void signalAfterTheToldOnes_endsTheProcessAtOnce()
    {
        const InterruptWatcher watcher(1);
        QVERIFY(watcher.isWatching());
        const pid_t child = ::fork();
        if (child == 0) {
            ::raise(SIGTERM); // told
            ::raise(SIGTERM); // not told: the end
            ::_exit(0);
        }
        QVERIFY(child > 0);
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGTERM);
    }
};

QTEST_GUILESS_MAIN(TestInterruptWatcher)
#include "tst_interruptwatcher.moc"
