// tavio-bench-link: the round trip of one acknowledged request through the
// program's link and the simulated device, against the same frame bytes over
// a bare pty pair, measured in the same run, interleaved round by round.

#include "barepty.h"
#include "benchsupport.h"
#include "logging.h"
#include "protocolframe.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <ctime>

using namespace Bench;

namespace {
// Many short rounds: the finer the interleaving, the more alike the load
// on the two sides of a noisy machine.
constexpr int DefaultRounds = 20;
constexpr int LogSinkRounds = 5;
constexpr int WarmUpRequests = 20;
constexpr unsigned SingleTransmission = 1;
constexpr unsigned AckTimeoutMs = 2000;
constexpr quint32 BenchCommand = AR_CMD_SENDFILE_DATA;

// Targets.
constexpr double MaxAddedUs = 500;
constexpr int RatioTargetPayload = 1024;
constexpr double MaxRatio = 3.0;

struct Case
{
    int payloadBytes;
    int requestsPerRound;
};
const Case Cases[] = {{0, 100}, {1024, 100}, {65536, 10}};

// The log lines alone: rounds of lines like those the link logs per frame.
constexpr int LogLineRounds = 20;
constexpr int LogLinesPerRound = 1000;
constexpr double NanosecondsPerMicrosecond = 1e3;

struct Result
{
    Case scenario;
    Medians us;
};

QByteArray payloadOf(int bytes)
{
    QByteArray payload(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        payload[i] = char(i);
    return payload;
}

class LinkBench
{
public:
    bool start(QString *error)
    {
        return m_bare.start(error) && m_sim.start(error);
    }

    Result measure(const Case &scenario, int rounds)
    {
        const QByteArray payload = payloadOf(scenario.payloadBytes);
        const int requests = scenario.requestsPerRound;
        linkRound(payload, WarmUpRequests);
        rawRound(payload, WarmUpRequests);
        const Medians us = compareInterleaved(
            rounds, [&] { return rawRound(payload, requests); },
            [&] { return linkRound(payload, requests); });
        return {scenario, us};
    }

private:
    std::vector<double> rawRound(const QByteArray &payload, int requests)
    {
        const QByteArray frame = ProtocolFrame::encode(BenchCommand, AR_MSGTYPE_REQUEST,
                                                       m_rawSeq++, 0, payload);
        std::vector<double> samples;
        for (int i = 0; i < requests; ++i) {
            const Clock::time_point start = Clock::now();
            if (!m_bare.roundTrip(frame))
                return {};
            samples.push_back(elapsedUs(start));
        }
        return samples;
    }

    std::vector<double> linkRound(QByteArray payload, int requests)
    {
        char *data = payload.isEmpty() ? nullptr : payload.data();
        std::vector<double> samples;
        for (int i = 0; i < requests; ++i) {
            const Clock::time_point start = Clock::now();
            const qint32 ret = m_sim.link().commandSerialSend(
                BenchCommand, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0, data, unsigned(payload.size()),
                SingleTransmission, AckTimeoutMs);
            if (ret != 0)
                return {};
            samples.push_back(elapsedUs(start));
        }
        m_sim.device().clearFrames(); // the device keeps every frame otherwise
        return samples;
    }

    BarePtyPair m_bare;
    SimulatedLink m_sim;
    quint32 m_rawSeq = 0;
};

// The CPU time of the calling thread, in microseconds.
double threadCpuUs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * MicrosecondsPerSecond + double(now.tv_nsec) / NanosecondsPerMicrosecond;
}

// What one log line costs the thread that logs it, in CPU time: the median
// over rounds of the mean per line.
double logLineCpuUs()
{
    std::vector<double> perLine;
    for (int round = 0; round < LogLineRounds; ++round) {
        const double start = threadCpuUs();
        for (int i = 0; i < LogLinesPerRound; ++i)
            LOG_INFO << "Data sent successfully:" << i << "bytes written.";
        perLine.push_back((threadCpuUs() - start) / LogLinesPerRound);
    }
    return median(perLine);
}

bool printTable(const QString &title, const QList<Result> &results)
{
    printLine(QString());
    printLine(title);
    const Table table({{QStringLiteral("payload B"), 9},
                       {QStringLiteral("raw us"), 9},
                       {QStringLiteral("link us"), 9},
                       {QStringLiteral("link-raw us"), 11},
                       {QStringLiteral("link/raw"), 8}});
    table.printHeader();
    bool valid = true;
    for (const Result &r : results) {
        valid = valid && r.us.valid;
        table.printRow({QString::number(r.scenario.payloadBytes), fixed(r.us.reference, 1),
                        fixed(r.us.subject, 1), fixed(r.us.subject - r.us.reference, 1),
                        fixed(r.us.subject / r.us.reference, 2)});
    }
    if (!valid)
        printError(QStringLiteral("some requests were not acknowledged: the figures are incomplete"));
    return valid;
}

QList<Result> measureAll(LinkBench &bench, int rounds)
{
    QList<Result> results;
    for (const Case &scenario : Cases)
        results.append(bench.measure(scenario, rounds));
    return results;
}

bool checkTargets(const QList<Result> &results)
{
    bool met = true;
    for (const Result &r : results) {
        met &= printVerdict(QStringLiteral("link adds under %1 us per request at %2 B (adds %3 us)")
                                .arg(MaxAddedUs)
                                .arg(r.scenario.payloadBytes)
                                .arg(fixed(r.us.subject - r.us.reference, 1)),
                            r.us.subject - r.us.reference < MaxAddedUs);
        if (r.scenario.payloadBytes == RatioTargetPayload)
            met &= printVerdict(QStringLiteral("link within %1x raw at %2 B (%3x)")
                                    .arg(MaxRatio)
                                    .arg(RatioTargetPayload)
                                    .arg(fixed(r.us.subject / r.us.reference, 2)),
                                r.us.subject <= MaxRatio * r.us.reference);
    }
    return met;
}
} // namespace

int main(int argc, char *argv[])
{
    dropLogMessages();
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Round trip of one acknowledged request: the program's link with the simulated device "
        "against a bare pty pair."));
    parser.addHelpOption();
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Interleaved rounds (default %1).")
                                              .arg(DefaultRounds),
                                          QStringLiteral("n"), QString::number(DefaultRounds));
    parser.addOption(roundsOption);
    parser.process(app);
    const int rounds = qMax(1, parser.value(roundsOption).toInt());

    LinkBench bench;
    QString error;
    if (!bench.start(&error)) {
        printError(QStringLiteral("cannot start: %1").arg(error));
        return ExitFailure;
    }

    printLine(QStringLiteral("Request round trip, medians per request over %1 interleaved rounds "
                             "(requests per round: %2, %3, %4)")
                  .arg(rounds)
                  .arg(Cases[0].requestsPerRound)
                  .arg(Cases[1].requestsPerRound)
                  .arg(Cases[2].requestsPerRound));
    const QList<Result> results = measureAll(bench, rounds);
    bool valid = printTable(QStringLiteral("Log messages dropped:"), results);

    QList<Result> logged;
    qint64 logBytes = -1;
    double lineUs = 0;
    {
        ProgramLogSession session;
        if (session.isValid()) {
            logged = measureAll(bench, LogSinkRounds);
            lineUs = logLineCpuUs();
            logBytes = session.finish();
        }
    }
    valid &= printTable(QStringLiteral("With the program's log sink (log.txt, %1 rounds; "
                                       "%2 bytes in log.txt at the end):")
                            .arg(LogSinkRounds)
                            .arg(logBytes),
                        logged);
    printLine(QStringLiteral("One log line costs the thread that logs it %1 us of CPU time "
                             "(median of %2 rounds of %3 lines)")
                  .arg(fixed(lineUs, 2))
                  .arg(LogLineRounds)
                  .arg(LogLinesPerRound));

    printLine(QString());
    const bool met = checkTargets(results);
    if (!valid)
        return ExitFailure;
    return met ? 0 : ExitMiss;
}
