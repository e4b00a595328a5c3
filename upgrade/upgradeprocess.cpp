#include "upgradeprocess.h"

#include "firmwarerules.h"
#include "imageplan.h"
#include "imagesteps.h"
#include "logging.h"
#include "packagesequence.h"
#include "usbvirtualserial.h"
#include "waitreport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>

namespace {
const char FileChangedLog[] =
    "the upgrade file changed during the upgrade: the upgrade is stopped and nothing more is sent.";
} // namespace

UpgradeProcess::UpgradeProcess(UsbVirtualSerial *serial, std::shared_ptr<const UpgradeClock> clock,
                               QObject *parent)
    : QObject(parent)
    , m_upgUsbVirtualSerial(serial)
    , m_clock(clock)
    , m_status(*this, serial, std::move(clock))
    , m_lifecycle({[this] { clearUpgradeState(); }, [this](bool run) { setRun(run); },
                   [this](int upgradeFinish) { finishReset(upgradeFinish); },
                   [serial] { serial->closeSerialPort(); }})
{
    qRegisterMetaType<RestartCheck::Result>();
    connect(serial, &UsbVirtualSerial::sig_sendUpgradeProcess, this,
            &UpgradeProcess::onsendUpgradeProcess, Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_SegLength, this, &UpgradeProcess::onsendSegLength,
            Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_reboot, this, &UpgradeProcess::onUpgreBoot,
            Qt::DirectConnection);
    connect(serial, &UsbVirtualSerial::sig_receiveDateInfo, this,
            &UpgradeProcess::onUpgreceiveDateInfo, Qt::DirectConnection);
}

UpgradeProcess::~UpgradeProcess()
{
    delete binFile;
}

// ---- flags -----------------------------------------------------------------------

void UpgradeProcess::setRun(bool run)
{
    bRun.store(run);
    wake();
    if (!run)
        m_upgUsbVirtualSerial->wakeRequestWaits(); // a request in flight ends now, not at its timeout
}

ar_upgrade_status UpgradeProcess::latestStatus() const
{
    QMutexLocker lock(&m_statusMutex);
    return upgrade_status;
}

bool UpgradeProcess::waitFor(const std::function<bool()> &ready, int programMs)
{
    QDeadlineTimer deadline(m_clock->realMs(programMs));
    QMutexLocker lock(&m_wakeMutex);
    while (!ready()) {
        if (!bRun.load() || deadline.hasExpired())
            return false;
        m_wakeUp.wait(&m_wakeMutex, deadline);
    }
    return true;
}

void UpgradeProcess::wake()
{
    QMutexLocker lock(&m_wakeMutex);
    m_wakeUp.wakeAll();
}

void UpgradeProcess::pause(int programMs)
{
    waitFor([] { return false; }, programMs);
}

// ---- transfer primitives ---------------------------------------------------------

int UpgradeProcess::getSegmentLength() const
{
    static const int Units[] = {1048576, 512000, 409600, 307200, 204800, 102400,
                                51200,   40960,  30720,  20480,  10240};
    const int length = m_segLength.load();
    if (length == 4096)
        return 4096;
    for (int unit : Units)
        if (length >= unit)
            return unit;
    return DefaultSegmentLength;
}

qint32 UpgradeProcess::commandUpgSendRecv(unsigned int cmd, unsigned short type,
                                          unsigned short format, char *date,
                                          unsigned int dataLenght)
{
    if (!bRun.load())
        return -1; // an ended sequence sends nothing more
    return m_upgUsbVirtualSerial->commandSerialSend(cmd, type, format, 0, date, dataLenght,
                                                    RequestTransmissions,
                                                    unsigned(m_clock->replyWaitMs(AckTimeoutMs)), m_running);
}

int UpgradeProcess::commandSendWithFileRecv(unsigned int cmd, unsigned int type, unsigned int format,
                                            QFile *file, unsigned int segmentLen, unsigned int imgType)
{
    const unsigned timeoutMs = unsigned(m_clock->replyWaitMs(
        imgType == IMG_TAREL_8333_SENSOR ? SensorAckTimeoutMs : AckTimeoutMs));
    const int segUnitLength = getSegmentLength();
    LOG_INFO << "segUnitLength" << segUnitLength;
    QByteArray buffer(qMin<qint64>(segUnitLength, qMax(1u, segmentLen)), Qt::Uninitialized);

    unsigned int left = segmentLen;
    do {
        if (!bRun.load())
            return -1; // an ended sequence sends nothing more
        const qint64 wanted = qMin<qint64>(segUnitLength, left);
        const qint64 read = file->read(buffer.data(), wanted);
        if (read != wanted) {
            LOG_WARNING << "the image file ended early:" << read << "of" << wanted << "bytes read";
            return FileChanged; // none of a file cut under the program goes out
        }
        m_sentImage.add(buffer.constData(), read);
        const unsigned frameBytes = unsigned(read);
        const qint32 ret = m_upgUsbVirtualSerial->commandSerialSend(
            cmd, quint16(type), quint16(format), 0, buffer.data(), frameBytes,
            RequestTransmissions, timeoutMs, m_running);
        if (ret < 0) {
            LOG_INFO << "commandSerialSend send err, ret " << ret;
            return -1;
        }
        left -= qMin(left, frameBytes);
        if (frameBytes == 0)
            break; // the end of the file: nothing more to read
    } while (left > 0);
    return int(segmentLen);
}

int UpgradeProcess::waitReceiveDateResponse()
{
    const auto report = waitReport(WaitKind::DeviceVerdict);
    const bool arrived = waitFor([this] { return m_receiveStatus.load() != NoVerdict; },
                                 VerdictPolls * VerdictPollMs);
    if (!arrived)
        LOG_INFO << "waitReceiveDateResponse timeout " << VerdictPolls + 1;
    LOG_INFO << "waitReceiveDateResponse m_receiveStatus " << m_receiveStatus.load();
    return m_receiveStatus.load();
}

bool UpgradeProcess::waitSerialResponse()
{
    const auto report = waitReport(WaitKind::DeviceRestart);
    QDeadlineTimer limit(m_clock->realMs(ReconnectLimitMs));
    bool opened = false;
    while (bRun.load() && !limit.hasExpired()) {
        if (m_upgUsbVirtualSerial->openDevicePort(false) == UsbVirtualSerial::PortOpening::Opened) {
            LOG_INFO << "SerialPort Open!!!!!!";
            pause(PortSettleMs);
            if (!bRun.load())
                break;
            // A port that was still on its way out fails while settling: wait on.
            if (m_upgUsbVirtualSerial->SerialPortIsOpen()) {
                opened = true;
                break;
            }
            continue;
        }
        LOG_INFO << "SerialPort not Open";
        pause(PortRetryMs);
    }
    LOG_INFO << (opened ? "SerialPort is Open" : "SerialPort wait ended");
    return opened;
}

void UpgradeProcess::upgReboot(const char *reboot_mode)
{
    LOG_INFO << "upgReboot mode: " << reboot_mode;
    ar_device_reboot record{};
    qstrncpy(record.mode, reboot_mode, sizeof(record.mode));
    setUpgStep(AR_COMMAND_GET_ACTIVE);
    commandUpgSendRecv(AR_COMMAND_GET_ACTIVE, AR_MSGTYPE_REQUEST, AR_FMT_BINARY,
                       reinterpret_cast<char *>(&record), sizeof(record));
}

void UpgradeProcess::resetSendData()
{
    if (binFile && binFile->isOpen())
        binFile->seek(0);
    allSendLen = 0;
    m_sentImage.restart();
    setUpgStep(AR_CMD_REMOTE_UPGRADE);
    LOG_INFO << "resetSendData...";
}

// ---- sequences ------------------------------------------------------------------

void UpgradeProcess::upgradeFile(const QString &path, UpgradeKind kind)
{
    if (kind == UpgradeKind::Package) {
        PackageSequence(*this).run(path);
        return;
    }
    if (!m_lifecycle.begin())
        return;
    switch (pinUpgradeFile(path)) {
    case FilePin::Pinned:
        ImageSteps(*this, ImagePlan::singleImage(path)).run();
        checkRestartAfterSuccess(path);
        break;
    case FilePin::Unreadable:
        reportNotStarted(tr("open upgrade firmware fail!"), tr("打开升级固件失败!"));
        break;
    case FilePin::Refused:
        break;
    }
    m_lifecycle.end(1, true);
    LOG_INFO << "upgrade finished";
}

void UpgradeProcess::upgCommandProcess(ar_upgrade_status *upgradestatus, int segLength)
{
    ImageSteps(*this, ImagePlan::singleImage(binFilePath)).step(*upgradestatus, segLength);
}

// The part's name and type follow from its path.
void UpgradeProcess::upgCommandProcess_tarel_sky(ar_upgrade_status *upgradestatus, int segLength,
                                                 const QString &upgradeFirmwarePath, const QString &,
                                                 int, int upgradeSubFirmwareNum,
                                                 int curSendUpgradeSubFirmwareNum)
{
    const ImagePlan plan = ImagePlan::packagePart(upgradeFirmwarePath, curSendUpgradeSubFirmwareNum,
                                                  upgradeSubFirmwareNum);
    ImageSteps(*this, plan).step(*upgradestatus, segLength);
}

int UpgradeProcess::upgradeImag_parse_tarel_sky(const QString &input_img_path, QStringList &outPaths,
                                                const QString &outputDir,
                                                PackageSplitter::SplitError *error)
{
    return PackageSplitter::upgradeImag_parse_tarel_sky(input_img_path, outPaths, outputDir, error);
}

IMG_TYPE UpgradeProcess::getImgTypeFromFileName(const QString &upgradeFirmwareName)
{
    return PackageSplitter::getImgTypeFromFileName(upgradeFirmwareName);
}

// ---- state between upgrades ------------------------------------------------------

void UpgradeProcess::clearUpgradeState()
{
    clearFileState();
    m_image = PinnedImage();
    m_upgradeMd5.clear();
    m_status.clear();
    m_resend = 0;
    m_fileAccepted.store(false);
    m_upgradeSucceeded.store(false);
}

void UpgradeProcess::markSucceeded()
{
    if (!m_upgradeSucceeded.exchange(true))
        emit upgradeSucceeded();
}

void UpgradeProcess::checkRestartAfterSuccess(const QString &path)
{
    if (!m_checksRestart.load() || !m_upgradeSucceeded.load() || !m_lifecycle.resume())
        return;
    emit restartCheckStarted();
    const RestartCheck::Result result = RestartCheck(*this).run(ImagePlan::fileNameOf(path));
    resetUpgradeParameters(1);
    emit restartChecked(result);
}

void UpgradeProcess::startFile()
{
    {
        QMutexLocker lock(&m_statusMutex);
        upgrade_status = ar_upgrade_status{};
    }
    m_resend = 0;
    m_fileAccepted.store(false);
}

void UpgradeProcess::clearFileState()
{
    {
        QMutexLocker lock(&m_statusMutex);
        upgrade_status = ar_upgrade_status{};
    }
    allSendLen = 0;
    setUpgStep(-1);
    bUpgReboot.store(false);
    m_rebootFlag.store(0);
    m_receiveStatus.store(NoVerdict);
}

void UpgradeProcess::finishReset(int upgrade_finish)
{
    setRun(false);
    clearFileState();
    if (binFile) {
        if (binFile->isOpen())
            binFile->close();
        delete binFile;
        binFile = nullptr;
    }
    m_upgUsbVirtualSerial->set_usb_vid(0);
    m_upgUsbVirtualSerial->stopSerialRecv();
    m_upgUsbVirtualSerial->resetDeviceInfoPara();
    if (upgrade_finish != 0)
        m_upgrade_device_vid.store(0);
    LOG_INFO << "reset Upgrade Parameters";
}

// ---- replies from the link -------------------------------------------------------

void UpgradeProcess::onsendUpgradeProcess(ar_upgrade_status upgradestatus)
{
    // Unasked, a report decides nothing: no upgrade is there for it to end,
    // and once the device has said it is done, nothing it says undoes that.
    if (!m_lifecycle.isRunning() || m_upgradeSucceeded.load()) {
        LOG_INFO << "status report while no upgrade runs, ignored: status" << upgradestatus.status
                 << "percent" << upgradestatus.percent;
        return;
    }
    {
        QMutexLocker lock(&m_statusMutex);
        upgrade_status = upgradestatus;
    }
    LOG_INFO << "onsendUpgradeProcess upgradestatus->percent" << upgradestatus.percent
             << "upgrade_status " << upgradestatus.status;
    if (upgradestatus.status < 0) {
        setRun(false);
        m_upgUsbVirtualSerial->stopSerialRecv();
        m_status.reportNegativeStatusOnce(upgradestatus.status, upgradestatus.percent);
    }
    wake();
}

void UpgradeProcess::onsendSegLength(int length)
{
    m_segLength.store(length);
    LOG_INFO << "length " << length << "m_segLength " << m_segLength.load();
}

void UpgradeProcess::onUpgreBoot()
{
    LOG_INFO << "onUpgreBoot ";
    m_rebootFlag.store(1);
    wake();
}

void UpgradeProcess::onUpgreceiveDateInfo(int status)
{
    LOG_INFO << "onUpgreceiveDateInfo status:" << status;
    m_receiveStatus.store(status);
    wake();
}

// ---- what the user is told -------------------------------------------------------

void UpgradeProcess::endWithFailure(const QString &logText, const QString &hint)
{
    LOG_CRITICAL << logText.toUtf8().constData();
    emit logMessage(tr(logText.toUtf8().constData()));
    emit sigUpgradeProcessHint(hint, true);
    setRun(false);
}

void UpgradeProcess::endWithFileChanged()
{
    emit fileChanged();
    endWithFailure(QString::fromLatin1(FileChangedLog),
                   tr("升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！"));
}

UpgradeProcess::FilePin UpgradeProcess::pinUpgradeFile(const QString &path)
{
    const FirmwareRules::FileVerdict type = FirmwareRules::judgeFileType(path);
    if (type != FirmwareRules::FileVerdict::Accepted) {
        reportNotStarted(QStringLiteral("the upgrade file is empty or not a regular file."),
                         QCoreApplication::translate("UpgradePage", FirmwareRules::refusalText(type)));
        return FilePin::Refused;
    }
    m_image = PinnedImage::pin(path);
    if (!m_image.isPinned())
        return FilePin::Unreadable;
    m_upgradeMd5 = m_image.md5;
    LOG_INFO << "upgrade file" << path << "pinned:" << m_image.size << "bytes, MD5" << m_image.md5;
    return FilePin::Pinned;
}

void UpgradeProcess::reportNotStarted(const QString &viewText, const QString &hint)
{
    LOG_WARNING << "upgrade not started:" << viewText;
    emit logMessage(viewText);
    emit sigUpgradeNotStarted(hint);
}

void UpgradeProcess::reportWaiting(WaitKind kind, qint64 seconds)
{
    if (kind == WaitKind::DeviceRestart) {
        emit logMessage(QStringLiteral("waiting for the device to restart... %1 s").arg(seconds));
        emit sigUpgradeWaiting(tr("正在等待设备重启，已等待%1秒").arg(seconds));
    } else {
        emit logMessage(QStringLiteral("waiting for the device's verdict... %1 s").arg(seconds));
        emit sigUpgradeWaiting(tr("正在等待设备的校验结果，已等待%1秒").arg(seconds));
    }
}

std::unique_ptr<WaitReport> UpgradeProcess::waitReport(WaitKind kind)
{
    return std::make_unique<WaitReport>(
        *m_clock, WaitReportIntervalMs, [this, kind](qint64 seconds) { reportWaiting(kind, seconds); },
        [this] { emit sigUpgradeWaiting(QString()); });
}
