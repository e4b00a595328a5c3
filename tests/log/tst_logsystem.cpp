#include "logfile.h"
#include "logging.h"
#include "logsystem.h"
#include "testbytes.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>

namespace {
const QString LogFileName = QStringLiteral("log.txt");

using TestBytes::readFile;

constexpr int LineBytes = 13; // of each numbered line
const char LinePrefix[] = "line ";
constexpr int PrefixBytes = sizeof(LinePrefix) - 1;

// Lines "line 0000000\n", "line 0000001\n", ... (or from line `first`) filling
// exactly `size` bytes (the last one cut short), each told apart from the others.
QByteArray numberedLines(qint64 size, int first = 0)
{
    constexpr int LastDigit = LineBytes - 2;
    QByteArray out(int(size), Qt::Uninitialized);
    char line[LineBytes + 1];
    qsnprintf(line, sizeof(line), "line %07d\n", first);
    for (int at = 0; at < out.size(); at += LineBytes) {
        std::memcpy(out.data() + at, line, size_t(qMin(LineBytes, out.size() - at)));
        for (int digit = LastDigit; digit >= PrefixBytes && ++line[digit] > '9'; --digit) // the next number, in place
            line[digit] = '0';
    }
    return out;
}

// Waits until everything logged so far is in the file, so the sink's buffer is empty.
void settle(const char *marker)
{
    qInfo("%s", marker);
    QTRY_VERIFY(readFile(LogFileName).endsWith(QByteArray(marker) + '\n'));
}

// A log file on a disk that fills once, or in a folder where nothing can be
// moved: its faults injected where the real ones arise.
class FaultyLogFile : public LogFile
{
public:
    using LogFile::LogFile;
    bool movable = true;
    int cutWriteAt = -1; // the write, counted from 0, that stops after CutBytes
    static constexpr int CutBytes = 5;
protected:
    qint64 writeBytes(QFile &file, const QByteArray &bytes) override
    {
        if (m_writes++ != cutWriteAt)
            return LogFile::writeBytes(file, bytes);
        return file.write(bytes.left(CutBytes)) > 0 ? CutBytes : -1;
    }
    bool moveFile(const QString &from, const QString &to) override
    {
        return movable && LogFile::moveFile(from, to);
    }
private:
    int m_writes = 0;
};

// The first and the last number of the lines "line NNNNNNN\n" the file holds
// ({-1, -1}: none); false when a line is not whole or not one of them, or one
// is missing between two.
bool numbersOf(const QString &path, QPair<int, int> *run)
{
    const QByteArray content = readFile(path);
    *run = {-1, -1};
    for (int at = 0; at < content.size(); at += LineBytes) {
        while (at < content.size() && content.at(at) == '\n')
            ++at; // an empty line, as a write cut short and taken out leaves
        if (at == content.size())
            break;
        const char *line = content.constData() + at;
        if (content.size() - at < LineBytes || std::memcmp(line, LinePrefix, PrefixBytes) != 0 || line[LineBytes - 1] != '\n')
            return false;
        int number = 0;
        for (const char *digit = line + PrefixBytes; digit < line + LineBytes - 1; ++digit) {
            if (*digit < '0' || *digit > '9')
                return false;
            number = number * 10 + (*digit - '0');
        }
        if (run->second >= 0 && number != run->second + 1)
            return false;
        *run = {run->first < 0 ? number : run->first, number};
    }
    return true;
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

    // The line format, byte for byte, for every level word (a "%" in a message
    // stays as written); then each helper through the installed handler into the
    // file: the prefix items joined by the debug stream's spaces (two after a
    // literal that ends in one), strings quoted; the joined helper keeps one
    // space after "]". A thread's tag comes before the message as "[tag] ".
    void logLine_levelWordAndPrefix_data()
    {
        QTest::addColumn<int>("helper"); // -1: a level no helper logs at
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("tag");
        QTest::newRow("debug") << 0 << int(QtDebugMsg) << "DEBUG" << "";
        QTest::newRow("info") << 1 << int(QtInfoMsg) << "INFO" << "";
        QTest::newRow("warning") << 2 << int(QtWarningMsg) << "WARNING" << "";
        QTest::newRow("critical") << 3 << int(QtCriticalMsg) << "ERROR" << "";
        QTest::newRow("fatal") << -1 << int(QtFatalMsg) << "FATAL" << "";
        QTest::newRow("unknown") << -1 << 42 << "UNKNOWN" << "";
        QTest::newRow("info, joined") << 4 << int(QtInfoMsg) << "INFO" << "";
        QTest::newRow("warning, tagged") << 2 << int(QtWarningMsg) << "WARNING" << "/dev/ttyACM0 %2";
    }

    void logLine_levelWordAndPrefix()
    {
        QFETCH(int, helper);
        QFETCH(int, type);
        QFETCH(QString, word);
        QFETCH(QString, tag);
        const QString stamp = QStringLiteral("2025-03-01 14:05:09.042");
        const QString message = QStringLiteral("100% %1 升级");
        const QString tagged = tag.isEmpty() ? QString() : QLatin1Char('[') + tag + QStringLiteral("] ");
        QCOMPARE(LogSystem::formatLine(stamp, QtMsgType(type), message, tag),
                 (QLatin1Char('[') + stamp + QStringLiteral("][") + word + QStringLiteral("] ") + tagged + message
                  + QLatin1Char('\n')).toUtf8());
        if (helper < 0)
            return;

        const QString english = QStringLiteral("english");
        LogSystem::setThreadTag(tag);
        int line = 0;
        switch (helper) {
        case 0: LOG_DEBUG << "language " << english << 5 << true; line = __LINE__; break;
        case 1: LOG_INFO << "language " << english << 5 << true; line = __LINE__; break;
        case 2: LOG_WARNING << "language " << english << 5 << true; line = __LINE__; break;
        case 3: LOG_CRITICAL << "language " << english << 5 << true; line = __LINE__; break;
        default: LOG_INFO_JOINED("language ") << english << 5 << true; line = __LINE__; break;
        }
        LogSystem::setThreadTag(QString());
        const QString gap = helper == 4 ? QStringLiteral(" ") : QStringLiteral("  ");
        const QString text = tagged + QStringLiteral("[func: logLine_levelWordAndPrefix , line: %1 ]%2")
                                 .arg(line).arg(gap) + QStringLiteral("language  \"english\" 5 true");
        const QRegularExpression lastLine(
            QStringLiteral("(^|\\n)\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[%1\\] %2\\n\\z")
                .arg(word, QRegularExpression::escape(text)));
        QTRY_VERIFY(lastLine.match(QString::fromUtf8(readFile(LogFileName))).hasMatch());
    }

    // One stamp object through a run of times, as the sink uses it: within a second, into the next, back in time,
    // across the epoch and a year end. Each must read as the local time formatted afresh.
    void timestamp_matchesLocalTimeThroughEverySecondChange()
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

    // A thread that logs never waits for the file: here a pipe whose reader
    // takes nothing until far more than a pipe holds has been logged. Then
    // every line arrives whole and in order.
    void loggingThread_neverWaitsForTheFile()
    {
        constexpr int Lines = 6000; // five times what a pipe holds, well below what may wait
        constexpr int NumberDigits = 7, PatienceMs = 60000;
        const auto message = [](int i) { return "quick " + QByteArray::number(i).rightJustified(NumberDigits, '0'); };
        settle("before the pipe");
        const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("slow-reader")));
        QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        const int readEnd = ::open(path.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(readEnd >= 0);
        LogSystem::instance()->setFilePath(QFile::decodeName(path));
        std::atomic<bool> logged{false};
        std::thread logging([&logged, &message] {
            for (int i = 0; i < Lines; ++i)
                qInfo("%s", message(i).constData());
            logged = true;
        });
        const bool loggedUnread = QTest::qWaitFor([&logged] { return logged.load(); }, PatienceMs);

        const QByteArray last = message(Lines - 1) + '\n';
        ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) & ~O_NONBLOCK);
        QByteArray piped;
        char bytes[4096];
        for (ssize_t got; !piped.endsWith(last) && (got = ::read(readEnd, bytes, sizeof(bytes))) > 0;)
            piped.append(bytes, int(got));
        logging.join();
        LogSystem::instance()->setFilePath(LogFileName);
        ::close(readEnd);
        QVERIFY(loggedUnread);
        const QList<QByteArray> lines = piped.split('\n');
        QCOMPARE(lines.size(), Lines + 1);
        static const QRegularExpression line(
            QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]\\[INFO\\] (.*)$"));
        for (int i = 0; i < Lines; ++i) {
            const QRegularExpressionMatch match = line.match(QString::fromLatin1(lines.at(i)));
            QVERIFY2(match.hasMatch() && match.captured(1).toLatin1() == message(i), lines.at(i).constData());
        }
    }

    void flush_leavesAFileOfExactlyTheLimitAlone_thenMovesItAside()
    {
        settle("before the limit");
        const QString message = QStringLiteral("limit line");
        const qint64 lineSize = LogSystem::formatLine(LogSystem::instance()->timestampNow(), QtInfoMsg,
                                                      message).size();
        const QByteArray full = numberedLines(LogFile::MaxFileBytes - lineSize);
        QVERIFY(TestBytes::writeFile(LogFileName, full));

        qInfo("%s", qPrintable(message));
        QTRY_COMPARE(QFileInfo(LogFileName).size(), LogFile::MaxFileBytes);
        QThread::msleep(3 * LogSystem::FlushIntervalMs);
        QCOMPARE(QFileInfo(LogFileName).size(), LogFile::MaxFileBytes);

        qInfo("one more line");
        QTRY_VERIFY(readFile(LogFileName).endsWith("one more line\n"));
        QVERIFY(QFileInfo(LogFileName).size() < 100);
        QVERIFY(readFile(LogFile::previousPath(LogFileName)).startsWith(full));
    }

    void limit_holdsWithWholeLinesAndTheBeginningKept_data()
    {
        QTest::addColumn<bool>("movable");
        QTest::addColumn<int>("cutWriteAt"); // -1: none
        QTest::addColumn<int>("markAt");     // the line from which the beginning is kept; -1: from the start
        QTest::newRow("the first generation kept") << true << -1 << -1;
        QTest::newRow("a beginning marked later") << true << -1 << 500000;
        QTest::newRow("read-only folder: trimmed in place") << false << -1 << -1;
        QTest::newRow("disk full for one write") << true << 300 << -1;
        QTest::newRow("disk full in a read-only folder, near the end") << false << 3900 << -1;
    }

    // Batches of lines worth three files: each file stays within the limit, every
    // line in them is whole and none is lost but by a trim, the newest lines end
    // the log, and the previous generation starts where the beginning was marked.
    void limit_holdsWithWholeLinesAndTheBeginningKept()
    {
        constexpr int LinesPerBatch = 300;
        QFETCH(bool, movable);
        QFETCH(int, cutWriteAt);
        QFETCH(int, markAt);
        QTemporaryDir dir;
        const QString path = dir.filePath(LogFileName);
        FaultyLogFile file(path);
        file.movable = movable;
        file.cutWriteAt = cutWriteAt;
        const int lines = int(3 * LogFile::MaxFileBytes / LineBytes);
        for (int first = 0; first < lines; first += LinesPerBatch) {
            const int count = qMin(LinesPerBatch, lines - first);
            if (markAt >= first && markAt < first + count)
                file.keepNextAsBeginning();
            const QByteArray batch = numberedLines(count * LineBytes, first);
            if (!file.append(batch))
                QVERIFY(file.append(batch)); // offered again, as the sink does
        }

        QPair<int, int> current, previous;
        QVERIFY(numbersOf(path, &current));
        QVERIFY(numbersOf(LogFile::previousPath(path), &previous));
        QVERIFY(QFileInfo(path).size() <= LogFile::MaxFileBytes);
        QVERIFY(QFileInfo(LogFile::previousPath(path)).size() <= LogFile::MaxFileBytes);
        QCOMPARE(current.second, lines - 1);
        QCOMPARE(previous.first < 0, !movable);
        QVERIFY(!movable || (previous.first <= qMax(0, markAt) && qMax(0, markAt) <= previous.second));
    }

    void trimInPlace_keepsTheTailFromAFullLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("keep");
        QTest::addColumn<int>("bufferBytes");
        QTest::addColumn<int>("least"); // bytes the trimmed file keeps at least
        const int keep = int(LogFile::TrimmedFileBytes), buffer = LogFile::TrimBufferBytes;
        const int limit = int(LogFile::MaxFileBytes);
        QTest::newRow("one byte over the limit") << numberedLines(limit) + '\n' << keep << buffer << keep - 20;
        QTest::newRow("well over the limit") << numberedLines(3 * limit - 1) + '\n' << keep << buffer << keep - 20;
        QTest::newRow("no line feed after the cut") << "first line\n" + QByteArray(limit, 'x') << keep << buffer << 0;
        QTest::newRow("a buffer smaller than a line") << numberedLines(20000) + '\n' << 5000 << 7 << 5000 - 20;
        QTest::newRow("the cut right after a line feed") << numberedLines(13 * 100) << 13 * 40 << 13 << 13 * 40;
    }

    // The bytes move through the buffer alone, however small.
    void trimInPlace_keepsTheTailFromAFullLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, keep);
        QFETCH(int, bufferBytes);
        QFETCH(int, least);
        const QString path = m_dir.filePath(QStringLiteral("trim.txt"));
        QVERIFY(TestBytes::writeFile(path, content));
        QFile file(path);
        QVERIFY(LogFile::trimInPlace(file, keep, bufferBytes));

        const QByteArray tail = readFile(path);
        QVERIFY(tail.size() <= keep);
        QVERIFY(tail.size() >= least);
        QVERIFY(content.endsWith(tail));
        if (!tail.isEmpty())
            QCOMPARE(content.at(content.size() - tail.size() - 1), '\n');
    }

    void anyFile_takesTheLinesWithoutTheSinkReenteringItself_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("received"); // the messages the file or its reader gets, in order
        const QStringList all{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")};
        QTest::newRow("/dev/null") << "null" << QStringList();
        QTest::newRow("a regular file") << "file" << all;
        QTest::newRow("a pipe") << "pipe" << all;
        // Lines wait while nobody reads; a reader that comes gets them.
        QTest::newRow("a pipe read only later") << "pipe read later" << all;
        // A reader gone makes writes fail; the program goes on.
        QTest::newRow("a pipe whose reader leaves") << "pipe reader leaves" << QStringList{QStringLiteral("first")};
    }

    // After the shutdown every line is written through on the logging thread: a warning Qt raises meanwhile would
    // wait for that thread's own lock, and a pipe with no reader must not hold the thread in its open.
    void anyFile_takesTheLinesWithoutTheSinkReenteringItself()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, received);
        for (int i = 0; i < 20; ++i) // the first row's are still buffered: the shutdown writes them
            qInfo("last words %d", i);
        LogSystem::instance()->shutdown();
        QVERIFY(readFile(LogFileName).contains("last words 19\n"));
        const bool pipe = kind.startsWith(QLatin1String("pipe"));
        const QString path = kind == QLatin1String("null")
            ? QStringLiteral("/dev/null")
            : m_dir.filePath(QStringLiteral("sink-%1").arg(QTest::currentDataTag()).replace(' ', '-'));
        const QByteArray nativePath = QFile::encodeName(path);
        if (pipe)
            QVERIFY(::mkfifo(nativePath.constData(), 0600) == 0);
        // The read end opens without waiting for a writer; it is read once the
        // sink has opened its end, as a pipe with no writer reads as ended.
        int readEnd = -1;
        const auto openReadEnd = [&] { readEnd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK); };
        QByteArray piped;
        std::thread reader;
        const auto readToTheEnd = [&] {
            ::fcntl(readEnd, F_SETFL, ::fcntl(readEnd, F_GETFL) & ~O_NONBLOCK);
            reader = std::thread([&piped, fd = readEnd] {
                char bytes[4096];
                for (ssize_t got; (got = ::read(fd, bytes, sizeof(bytes))) > 0;)
                    piped.append(bytes, int(got));
                ::close(fd);
            });
        };

        if (kind == QLatin1String("pipe") || kind == QLatin1String("pipe reader leaves"))
            openReadEnd();
        LogSystem::instance()->setFilePath(path);
        qInfo("first through %s", qPrintable(kind));
        if (kind == QLatin1String("pipe"))
            readToTheEnd();
        if (kind == QLatin1String("pipe reader leaves")) {
            char bytes[4096];
            const ssize_t got = ::read(readEnd, bytes, sizeof(bytes));
            piped.append(bytes, int(qMax<ssize_t>(got, 0)));
            ::close(readEnd);
        }
        qWarning("second through %s", qPrintable(kind));
        if (kind == QLatin1String("pipe read later"))
            openReadEnd();
        qInfo("third through %s", qPrintable(kind));
        if (kind == QLatin1String("pipe read later"))
            readToTheEnd();
        LogSystem::instance()->setFilePath(LogFileName);
        if (reader.joinable())
            reader.join();
        qInfo("back in %s", qPrintable(LogFileName));

        QVERIFY(readFile(LogFileName).endsWith("back in " + LogFileName.toLatin1() + '\n'));
        const QByteArray written = pipe ? piped : kind == QLatin1String("file") ? readFile(path) : QByteArray();
        QStringList messages;
        for (const QByteArray &line : written.split('\n')) {
            if (!line.isEmpty())
                messages.append(QString::fromUtf8(line.mid(line.indexOf("] ") + 2)).section(QLatin1Char(' '), 0, 0));
        }
        QCOMPARE(messages, received);
    }
private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestLogSystem)
#include "tst_logsystem.moc"
