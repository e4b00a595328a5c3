#include "benchsupport.h"

#include "logsystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>
#include <algorithm>
#include <cmath>

namespace Bench {

namespace {
constexpr unsigned SingleTransmission = 1;
constexpr unsigned IdentityTimeoutMs = 2000;
constexpr qint64 ImageChunkBytes = MiB;
constexpr int HashChunkBytes = int(MiB);
const char PeakResidentField[] = "VmHWM:";

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}
} // namespace

// ---- time and statistics ---------------------------------------------------------

double elapsedUs(Clock::time_point since)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - since).count();
}

double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    const auto middle = samples.begin() + std::ptrdiff_t(samples.size() / 2);
    std::nth_element(samples.begin(), middle, samples.end());
    if (samples.size() % 2 != 0)
        return *middle;
    const double below = *std::max_element(samples.begin(), middle);
    return (below + *middle) / 2;
}

double percentile(std::vector<double> samples, double fraction)
{
    if (samples.empty())
        return 0;
    const double rank = std::ceil(fraction * double(samples.size()));
    const auto at = samples.begin() + std::ptrdiff_t(qBound(1.0, rank, double(samples.size())) - 1);
    std::nth_element(samples.begin(), at, samples.end());
    return *at;
}

std::vector<double> interleavedMedians(int rounds, const std::vector<Sampler> &samplers, bool *valid)
{
    std::vector<std::vector<double>> pools(samplers.size());
    *valid = true;
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < samplers.size(); ++i) {
            const std::vector<double> samples = samplers[i]();
            *valid = *valid && !samples.empty();
            pools[i].insert(pools[i].end(), samples.begin(), samples.end());
        }
    }
    std::vector<double> medians;
    for (const std::vector<double> &pool : pools)
        medians.push_back(median(pool));
    return medians;
}

Medians compareInterleaved(int rounds, const Sampler &reference, const Sampler &subject)
{
    Medians result;
    const std::vector<double> medians = interleavedMedians(rounds, {reference, subject}, &result.valid);
    result.reference = medians[0];
    result.subject = medians[1];
    return result;
}

// ---- logging ---------------------------------------------------------------------

void dropLogMessages()
{
    qInstallMessageHandler(discardMessage);
}

ProgramLogSession::ProgramLogSession()
    : m_previousDir(QDir::currentPath())
{
    if (!m_dir.isValid())
        return;
    QDir::setCurrent(m_dir.path());
    qInstallMessageHandler(customMessageHandler);
}

ProgramLogSession::~ProgramLogSession()
{
    finish();
}

qint64 ProgramLogSession::finish()
{
    if (!m_dir.isValid())
        return -1;
    const QString logPath = m_dir.filePath(QStringLiteral("log.txt"));
    if (!m_finished) {
        m_finished = true;
        dropLogMessages();
        LogSystem::instance()->shutdown();
        QDir::setCurrent(m_previousDir);
    }
    return QFile(logPath).size();
}

// ---- the device and the link -----------------------------------------------------

bool connectLink(UsbVirtualSerial &link)
{
    const QString name = link.searchUsbVirtualSerialPort(true);
    if (name.isEmpty() || !link.openSerialPort(name))
        return false;
    link.startSerialRecv();
    return askIdentity(link);
}

bool askIdentity(UsbVirtualSerial &link)
{
    return link.commandSerialSend(AR_COMMAND_FIND_DEVICE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                  nullptr, 0, SingleTransmission, IdentityTimeoutMs)
        == 0;
}

std::unique_ptr<UsbVirtualSerial> makeLink(const QString &path, quint16 vid)
{
    auto ports = std::make_shared<ExtraPortLister>(nullptr,
                                                   SerialPortDescription{path, QString(), vid});
    return std::make_unique<UsbVirtualSerial>(std::move(ports));
}

SimulatedLink::SimulatedLink(const DeviceIdentity &identity)
    : m_device(identity)
{
    m_device.setRebootDelay(RebootDelayMs);
}

bool SimulatedLink::startDevice(QString *error)
{
    if (!m_dir.isValid()) {
        *error = QStringLiteral("cannot create a temporary folder");
        return false;
    }
    if (!m_device.start(m_dir.filePath(QStringLiteral("device")))) {
        *error = m_device.errorString();
        return false;
    }
    return true;
}

bool SimulatedLink::start(QString *error)
{
    if (!startDevice(error))
        return false;
    m_link = makeLink(m_device.linkPath(), m_device.identity().vendorId);
    if (!connectLink(*m_link)) {
        *error = QStringLiteral("the link did not reach the simulated device");
        return false;
    }
    return true;
}

bool SimulatedLink::received(const QByteArray &imageMd5) const
{
    const QList<SimReceivedFile> files = m_device.receivedFiles();
    return !files.isEmpty() && files.last().verdict == 0 && md5(files.last().data) == imageMd5;
}

void DataFrameClock::watch(DeviceSimulator &device)
{
    QObject::connect(&device, &DeviceSimulator::frameReceived, &device,
                     [this](const SimFrameRecord &frame) { note(frame); }, Qt::DirectConnection);
}

void DataFrameClock::note(const SimFrameRecord &frame)
{
    if (frame.command != AR_CMD_SENDFILE_DATA)
        return;
    QMutexLocker lock(&m_mutex);
    m_largest = qMax(m_largest, qint64(frame.length));
    if (frame.retry > 0)
        ++m_resent;
    if (m_frames++ == 0)
        m_first = Clock::now();
    else
        m_bytes += frame.length;
    m_last = Clock::now();
}

double DataFrameClock::mibPerSecond() const
{
    QMutexLocker lock(&m_mutex);
    const double us = std::chrono::duration<double, std::micro>(m_last - m_first).count();
    return us > 0 ? double(m_bytes) / MiB / (us / MicrosecondsPerSecond) : 0;
}

qint64 DataFrameClock::frames() const
{
    QMutexLocker lock(&m_mutex);
    return m_frames;
}

qint64 DataFrameClock::resent() const
{
    QMutexLocker lock(&m_mutex);
    return m_resent;
}

qint64 DataFrameClock::largestFrame() const
{
    QMutexLocker lock(&m_mutex);
    return m_largest;
}

// ---- files and memory ------------------------------------------------------------

bool writeImage(const QString &path, qint64 bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = file.errorString();
        return false;
    }
    std::vector<quint32> chunk(size_t(ImageChunkBytes) / sizeof(quint32));
    for (qint64 written = 0, index = 0; written < bytes; ++index) {
        QRandomGenerator(quint32(index)).fillRange(chunk.data(), qsizetype(chunk.size()));
        const qint64 size = qMin(ImageChunkBytes, bytes - written);
        if (file.write(reinterpret_cast<const char *>(chunk.data()), size) != size) {
            *error = file.errorString();
            return false;
        }
        written += size;
    }
    return true;
}

QByteArray fileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Md5);
    while (!file.atEnd())
        hash.addData(file.read(HashChunkBytes));
    return hash.result().toHex();
}

QByteArray md5(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

qint64 peakResidentKib(qint64 pid)
{
    const QString status = pid == 0 ? QStringLiteral("/proc/self/status")
                                    : QStringLiteral("/proc/%1/status").arg(pid);
    QFile file(status);
    // Files in /proc report no size: read them whole rather than up to atEnd().
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith(PeakResidentField))
            continue;
        bool ok = false;
        const qint64 kib = line.mid(int(sizeof(PeakResidentField)) - 1)
                               .simplified()
                               .split(' ')
                               .value(0)
                               .toLongLong(&ok);
        return ok ? kib : -1;
    }
    return -1;
}

// ---- output ----------------------------------------------------------------------

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

Table::Table(QList<Column> columns)
    : m_columns(std::move(columns))
{
}

void Table::printHeader() const
{
    QStringList titles;
    for (const Column &column : m_columns)
        titles.append(column.title);
    printRow(titles);
    QStringList rules;
    for (const Column &column : m_columns)
        rules.append(QString(column.width, QLatin1Char('-')));
    printRow(rules);
}

void Table::printRow(const QStringList &cells) const
{
    QString line;
    for (int i = 0; i < m_columns.size(); ++i)
        line += QStringLiteral("  ") + cells.value(i).rightJustified(m_columns.at(i).width);
    printLine(line);
}

void printLine(const QString &line)
{
    QTextStream out(stdout);
    out << line << '\n';
    out.flush();
}

void printError(const QString &line)
{
    QTextStream err(stderr);
    err << line << '\n';
    err.flush();
}

bool printVerdict(const QString &target, bool met)
{
    printLine(QStringLiteral("%1  %2").arg(met ? QStringLiteral("PASS") : QStringLiteral("MISS"),
                                           target));
    return met;
}

} // namespace Bench
