#include "logging.h"
#include "logsystem.h"
#include "testbytes.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {
const QString LogFile = QStringLiteral("log.txt");

using TestBytes::readFile;

// Lines "line 0000001\n", "line 0000002\n", ... filling exactly `size` bytes
// (the last one cut short), each line told apart from the others.
QByteArray numberedLines(qint64 size)
{
    constexpr int LineBytes = 13;
    QByteArray out(int(size), Qt::Uninitialized);
    char line[LineBytes + 1];
    for (int i = 0, at = 0; at < out.size(); ++i, at += LineBytes) {
        qsnprintf(line, sizeof(line), "line %07d\n", i); // no allocation per line: fast under ASan
        std::memcpy(out.data() + at, line, size_t(qMin(LineBytes, out.size() - at)));
    }
    return out;
}

// Waits until everything logged so far is in the file, so the sink's buffer is empty.
void settle(const char *marker)
{
    qInfo("%s", marker);
    QTRY_VERIFY(readFile(LogFile).endsWith(QByteArray(marker) + '\n'));
}
} // namespace

class TestLogSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid() && QDir::setCurrent(m_dir.path()));
        qInstallMessageHandler(customMessageHandler);
    }

    void logLine_levelWordAndPrefix_data();
    void logLine_levelWordAndPrefix();
    void timestamp_matchesLocalTimeThroughEverySecondChange();

    void fullBatch_isWrittenByTheLoggingThreadAtOnce();
    void flush_leavesAFileOfExactlyTheLimitAlone_thenTrimsPastIt();
    void rotateLog_keepsTheTailFromAFullLine_data();
    void rotateLog_keepsTheTailFromAFullLine();
    void shutdown_writesEveryLineLoggedSoFar();

private:
    QTemporaryDir m_dir;
};

// The line format, byte for byte, for every level word (a "%" in a message
// stays as written); then each helper through the installed handler into the
// file: the prefix items joined by the debug stream's spaces (two after a
// literal that ends in one), strings quoted; the joined helper keeps one
// space after "]".
void TestLogSystem::logLine_levelWordAndPrefix_data()
{
    QTest::addColumn<int>("helper"); // -1: a level no helper logs at
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("word");
    QTest::newRow("debug") << 0 << int(QtDebugMsg) << "DEBUG";
    QTest::newRow("info") << 1 << int(QtInfoMsg) << "INFO";
    QTest::newRow("warning") << 2 << int(QtWarningMsg) << "WARNING";
    QTest::newRow("critical") << 3 << int(QtCriticalMsg) << "ERROR";
    QTest::newRow("fatal") << -1 << int(QtFatalMsg) << "FATAL";
    QTest::newRow("unknown") << -1 << 42 << "UNKNOWN";
    QTest::newRow("info, joined") << 4 << int(QtInfoMsg) << "INFO";
}

void TestLogSystem::logLine_levelWordAndPrefix()
{
    QFETCH(int, helper);
    QFETCH(int, type);
    QFETCH(QString, word);
    const QString stamp = QStringLiteral("2025-03-01 14:05:09.042");
    const QString message = QStringLiteral("100% %1 升级");
    QCOMPARE(LogSystem::formatLine(stamp, QtMsgType(type), message),
             (QLatin1Char('[') + stamp + QStringLiteral("][") + word + QStringLiteral("] ") + message
              + QLatin1Char('\n')).toUtf8());
    if (helper < 0)
        return;

    const QString english = QStringLiteral("english");
    int line = 0;
    switch (helper) {
    case 0: LOG_DEBUG << "language " << english << 5 << true; line = __LINE__; break;
    case 1: LOG_INFO << "language " << english << 5 << true; line = __LINE__; break;
    case 2: LOG_WARNING << "language " << english << 5 << true; line = __LINE__; break;
    case 3: LOG_CRITICAL << "language " << english << 5 << true; line = __LINE__; break;
    default: LOG_INFO_JOINED("language ") << english << 5 << true; line = __LINE__; break;
    }
    const QString gap = helper == 4 ? QStringLiteral(" ") : QStringLiteral("  ");
    const QString text = QStringLiteral("[func: logLine_levelWordAndPrefix , line: %1 ]%2")
                             .arg(line).arg(gap) + QStringLiteral("language  \"english\" 5 true");
    const QRegularExpression lastLine(
        QStringLiteral("(^|\\n)\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[%1\\] %2\\n\\z")
            .arg(word, QRegularExpression::escape(text)));
    QTRY_VERIFY(lastLine.match(QString::fromUtf8(readFile(LogFile))).hasMatch());
}

// One stamp object through a run of times, as the sink uses it: within a
// second, into the next, back in time, across the epoch and a year end. Each
// must read as the local time formatted afresh.
void TestLogSystem::timestamp_matchesLocalTimeThroughEverySecondChange()
{
    const qint64 base = QDateTime(QDate(2025, 3, 1), QTime(14, 5, 9, 42)).toMSecsSinceEpoch();
    const qint64 yearEnd = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 998)).toMSecsSinceEpoch();
    LogTimestamp stamp;
    for (qint64 msecs : {base, base + 1, base + 957, base + 958, base - 43, base - 42, base + 3600000,
                         base, qint64(-1), qint64(0), qint64(999), qint64(1000), yearEnd, yearEnd + 1,
                         yearEnd + 2, yearEnd + 1001}) {
        QCOMPARE(stamp.text(msecs), QDateTime::fromMSecsSinceEpoch(msecs).toString(
                                        QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    }
}

// A line that brings the buffer to exactly the batch size is written before
// the call returns.
void TestLogSystem::fullBatch_isWrittenByTheLoggingThreadAtOnce()
{
    settle("before the batch");
    const int lineBytes = LogSystem::formatLine(LogSystem::instance()->timestampNow(), QtInfoMsg,
                                                QString()).size();
    const QByteArray start = "full batch ";
    const QByteArray message =
        start + QByteArray(LogSystem::DirectWriteBytes - lineBytes - start.size(), 'f');
    qInfo("%s", message.constData());
    QVERIFY(readFile(LogFile).endsWith(message + '\n'));
}

void TestLogSystem::flush_leavesAFileOfExactlyTheLimitAlone_thenTrimsPastIt()
{
    settle("before the limit");
    const QString message = QStringLiteral("limit line");
    const qint64 lineSize = LogSystem::formatLine(LogSystem::instance()->timestampNow(), QtInfoMsg,
                                                  message).size();
    QVERIFY(TestBytes::writeFile(LogFile, numberedLines(LogSystem::MaxFileBytes - lineSize)));

    qInfo("%s", qPrintable(message));
    QTRY_COMPARE(QFileInfo(LogFile).size(), LogSystem::MaxFileBytes);
    QThread::msleep(3 * LogSystem::FlushIntervalMs);
    QCOMPARE(QFileInfo(LogFile).size(), LogSystem::MaxFileBytes);

    qInfo("one more line");
    QTRY_VERIFY(QFileInfo(LogFile).size() <= LogSystem::TrimmedFileBytes);
    const QByteArray log = readFile(LogFile);
    QVERIFY2(log.startsWith("line "), log.left(80).constData());
    QVERIFY(log.endsWith("one more line\n"));
}

void TestLogSystem::rotateLog_keepsTheTailFromAFullLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("least"); // bytes the trimmed file keeps at least
    QTest::newRow("one byte over the limit") << numberedLines(LogSystem::MaxFileBytes) + '\n'
                                             << int(LogSystem::TrimmedFileBytes) - 20;
    QTest::newRow("well over the limit") << numberedLines(3 * LogSystem::MaxFileBytes - 1) + '\n'
                                         << int(LogSystem::TrimmedFileBytes) - 20;
    QTest::newRow("no line feed after the cut")
        << "first line\n" + QByteArray(int(LogSystem::MaxFileBytes), 'x') << 0;
}

void TestLogSystem::rotateLog_keepsTheTailFromAFullLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, least);
    const QString path = m_dir.filePath(QStringLiteral("rotate.txt"));
    QVERIFY(TestBytes::writeFile(path, content));
    QFile file(path);
    LogSystem::rotateLog(file);

    const QByteArray tail = readFile(path);
    QVERIFY(tail.size() <= LogSystem::TrimmedFileBytes);
    QVERIFY(tail.size() >= least);
    QVERIFY(content.endsWith(tail));
    if (!tail.isEmpty())
        QCOMPARE(content.at(content.size() - tail.size() - 1), '\n');
}

void TestLogSystem::shutdown_writesEveryLineLoggedSoFar()
{
    for (int i = 0; i < 20; ++i)
        qInfo("last words %d", i);
    LogSystem::instance()->shutdown();
    QVERIFY(readFile(LogFile).contains("last words 19\n"));

    qInfo("after shutdown");
    QVERIFY(readFile(LogFile).endsWith("after shutdown\n"));
}

QTEST_GUILESS_MAIN(TestLogSystem)
#include "tst_logsystem.moc"
