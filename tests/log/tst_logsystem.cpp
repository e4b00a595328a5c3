#include "logging.h"
#include "logsystem.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString LinePattern = QStringLiteral(
    "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[%1\\] %2\\n$");

QByteArray readLog()
{
    QFile file(QStringLiteral("log.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray lastLine(const QByteArray &log)
{
    const int end = log.endsWith('\n') ? log.size() - 1 : log.size();
    return log.mid(log.lastIndexOf('\n', end - 1) + 1);
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

// Lines "line 0000001\n", "line 0000002\n", ... filling exactly `size` bytes
// (the last one cut short).
QByteArray numberedLines(qint64 size)
{
    QByteArray out;
    out.reserve(int(size));
    for (int i = 0; out.size() < size; ++i)
        out += QStringLiteral("line %1\n").arg(i, 7, 10, QLatin1Char('0')).toLatin1();
    out.truncate(int(size));
    return out;
}
} // namespace

class TestLogSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void formatLine_levelWords_data();
    void formatLine_levelWords();
    void formatLine_percentSignsStayAsWritten();
    void timestamp_matchesLocalTimeThroughEverySecondChange();

    void prefixHelper_producesTheStartupExampleLine();
    void prefixHelper_everyLevel_data();
    void prefixHelper_everyLevel();
    void smallBatch_reachesFileWithinAFlushInterval();
    void fullBatch_isWrittenByTheLoggingThreadAtOnce();
    void flush_leavesAFileOfExactlyTheLimitAlone_thenTrimsPastIt();

    void rotateLog_keepsTheTailFromAFullLine_data();
    void rotateLog_keepsTheTailFromAFullLine();
    void rotateLog_noLineFeedAfterTheCut_emptiesTheFile();

    void shutdown_writesEveryLineLoggedSoFar();

private:
    QTemporaryDir m_dir;
};

void TestLogSystem::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    qInstallMessageHandler(customMessageHandler);
}

void TestLogSystem::formatLine_levelWords_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("word");
    QTest::newRow("debug") << int(QtDebugMsg) << "DEBUG";
    QTest::newRow("info") << int(QtInfoMsg) << "INFO";
    QTest::newRow("warning") << int(QtWarningMsg) << "WARNING";
    QTest::newRow("critical") << int(QtCriticalMsg) << "ERROR";
    QTest::newRow("fatal") << int(QtFatalMsg) << "FATAL";
    QTest::newRow("unknown") << 42 << "UNKNOWN";
}

void TestLogSystem::formatLine_levelWords()
{
    QFETCH(int, type);
    QFETCH(QString, word);
    QCOMPARE(LogSystem::formatLine(QStringLiteral("2025-03-01 14:05:09.042"), QtMsgType(type),
                                   QStringLiteral("text")),
             QStringLiteral("[2025-03-01 14:05:09.042][%1] text\n").arg(word).toUtf8());
}

void TestLogSystem::formatLine_percentSignsStayAsWritten()
{
    QCOMPARE(LogSystem::formatLine(QStringLiteral("2025-03-01 14:05:09.042"), QtInfoMsg,
                                   QStringLiteral("100% %1 %2 升级")),
             QStringLiteral("[2025-03-01 14:05:09.042][INFO] 100% %1 %2 升级\n").toUtf8());
}

// One stamp object through a run of times, as the sink uses it: within a
// second, into the next, back in time, across the epoch and a year end. Each
// must read as the local time formatted afresh.
void TestLogSystem::timestamp_matchesLocalTimeThroughEverySecondChange()
{
    const qint64 base = QDateTime(QDate(2025, 3, 1), QTime(14, 5, 9, 42)).toMSecsSinceEpoch();
    const qint64 yearEnd = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 998)).toMSecsSinceEpoch();
    const QList<qint64> times = {base, base + 1, base + 957, base + 958, base - 43, base - 42,
                                 base + 3600000, base, -1, 0, 999, 1000, yearEnd, yearEnd + 1,
                                 yearEnd + 2, yearEnd + 1001};
    LogTimestamp stamp;
    for (qint64 msecs : times) {
        QCOMPARE(stamp.text(msecs), QDateTime::fromMSecsSinceEpoch(msecs).toString(
                                        QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")));
    }
}

static int logLanguageAsStartupDoes()
{
    LOG_INFO << "language " << QStringLiteral("english");
    return __LINE__ - 1;
}

void TestLogSystem::prefixHelper_producesTheStartupExampleLine()
{
    const int line = logLanguageAsStartupDoes();
    const QString expected = LinePattern.arg(
        QStringLiteral("INFO"),
        QRegularExpression::escape(
            QStringLiteral("[func: logLanguageAsStartupDoes , line: %1 ]  language  \"english\"").arg(line)));
    QTRY_VERIFY(QRegularExpression(expected).match(QString::fromUtf8(lastLine(readLog()))).hasMatch());
}

void TestLogSystem::prefixHelper_everyLevel_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("word");
    QTest::newRow("debug") << int(QtDebugMsg) << "DEBUG";
    QTest::newRow("info") << int(QtInfoMsg) << "INFO";
    QTest::newRow("warning") << int(QtWarningMsg) << "WARNING";
    QTest::newRow("critical") << int(QtCriticalMsg) << "ERROR";
}

void TestLogSystem::prefixHelper_everyLevel()
{
    QFETCH(int, type);
    QFETCH(QString, word);
    int line = 0;
    switch (type) {
    case QtDebugMsg: LOG_DEBUG << "value" << 5 << true; line = __LINE__; break;
    case QtInfoMsg: LOG_INFO << "value" << 5 << true; line = __LINE__; break;
    case QtWarningMsg: LOG_WARNING << "value" << 5 << true; line = __LINE__; break;
    default: LOG_CRITICAL << "value" << 5 << true; line = __LINE__; break;
    }
    const QString text = QStringLiteral("[func: prefixHelper_everyLevel , line: %1 ]  value 5 true").arg(line);
    const QRegularExpression expected(LinePattern.arg(word, QRegularExpression::escape(text)));
    QTRY_VERIFY(expected.match(QString::fromUtf8(lastLine(readLog()))).hasMatch());
}

void TestLogSystem::smallBatch_reachesFileWithinAFlushInterval()
{
    const QByteArray marker = "small batch marker";
    qInfo("%s", marker.constData());
    QTRY_VERIFY_WITH_TIMEOUT(readLog().contains(marker), 1000);
}

void TestLogSystem::fullBatch_isWrittenByTheLoggingThreadAtOnce()
{
    const QString filler(LogSystem::DirectWriteBytes, QLatin1Char('f'));
    qInfo("%s", qPrintable(QStringLiteral("full batch ") + filler));
    QVERIFY(readLog().contains("full batch ffff"));
}

void TestLogSystem::flush_leavesAFileOfExactlyTheLimitAlone_thenTrimsPastIt()
{
    // Let every earlier line reach the file first, so nothing lands between
    // the prepared content and the line under test.
    qInfo("before the limit");
    QTRY_VERIFY(readLog().endsWith("before the limit\n"));
    const QString message = QStringLiteral("limit line");
    const qint64 lineSize = LogSystem::formatLine(LogSystem::instance()->timestampNow(), QtInfoMsg, message).size();
    writeFile(QStringLiteral("log.txt"), numberedLines(LogSystem::MaxFileBytes - lineSize));

    qInfo("%s", qPrintable(message));
    QTRY_COMPARE(QFileInfo(QStringLiteral("log.txt")).size(), LogSystem::MaxFileBytes);
    QThread::msleep(3 * LogSystem::FlushIntervalMs);
    QCOMPARE(QFileInfo(QStringLiteral("log.txt")).size(), LogSystem::MaxFileBytes);

    qInfo("one more line");
    QTRY_VERIFY(QFileInfo(QStringLiteral("log.txt")).size() <= LogSystem::TrimmedFileBytes);
    const QByteArray log = readLog();
    QVERIFY2(log.startsWith("line "), log.left(80).constData());
    QVERIFY(log.endsWith("one more line\n"));
}

void TestLogSystem::rotateLog_keepsTheTailFromAFullLine_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("one byte over the limit") << LogSystem::MaxFileBytes + 1;
    QTest::newRow("well over the limit") << 3 * LogSystem::MaxFileBytes;
}

void TestLogSystem::rotateLog_keepsTheTailFromAFullLine()
{
    QFETCH(qint64, size);
    const QString path = m_dir.filePath(QStringLiteral("rotate.txt"));
    const QByteArray content = numberedLines(size - 1) + '\n';
    writeFile(path, content);

    QFile file(path);
    LogSystem::rotateLog(file);

    QFile trimmed(path);
    QVERIFY(trimmed.open(QIODevice::ReadOnly));
    const QByteArray tail = trimmed.readAll();
    QVERIFY(tail.size() <= LogSystem::TrimmedFileBytes);
    QVERIFY(tail.size() > LogSystem::TrimmedFileBytes - 20);
    QVERIFY(content.endsWith(tail));
    QCOMPARE(content.at(content.size() - tail.size() - 1), '\n');
}

void TestLogSystem::rotateLog_noLineFeedAfterTheCut_emptiesTheFile()
{
    const QString path = m_dir.filePath(QStringLiteral("noline.txt"));
    writeFile(path, "first line\n" + QByteArray(int(LogSystem::MaxFileBytes), 'x'));
    QFile file(path);
    LogSystem::rotateLog(file);
    QCOMPARE(QFileInfo(path).size(), qint64(0));
}

void TestLogSystem::shutdown_writesEveryLineLoggedSoFar()
{
    for (int i = 0; i < 20; ++i)
        qInfo("last words %d", i);
    LogSystem::instance()->shutdown();
    QVERIFY(readLog().contains("last words 19\n"));

    qInfo("after shutdown");
    QVERIFY(readLog().endsWith("after shutdown\n"));
}

QTEST_GUILESS_MAIN(TestLogSystem)
#include "tst_logsystem.moc"
