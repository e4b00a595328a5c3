// The upgrade page: construction, device presence, connecting and
// disconnecting, language change and shutdown.
#include "upgradepage.h"
#include "ui_upgradepage.h"

#include "devicenaming.h"
#include "firmwaredialog.h"
#include "identitydisplay.h"
#include "logging.h"
#include "messageboxes.h"
#include "settingpage.h"
#include "upgradeprocess.h"
#include "usbcheck.h"
#include "usbvirtualserial.h"

#include <QCloseEvent>
#include <QThread>
#include <QTimer>
#include <cstring>

namespace {
constexpr int NoTemperature = DeviceIdentityInfo::NoTemperature; // no device-information reply
constexpr int NamePauseMs = 200;         // lets a 7541/7542 unit settle before it is named
constexpr int IdentityLabelWidth = 700;
constexpr unsigned FindDeviceTransmissions = 1;
const QLatin1String NoDeviceText("NO Device");
const QString DegreesCelsius = QStringLiteral("\u00B0C");

const char PageStyle[] = "font-size:9pt;font-weight:normal;";
const char NameStyle[] = "font-size: 10pt !important;font-weight: bold !important;";
const char ConnectionButtonStyle[] =
    "font-size: 10pt !important;font-weight: bold !important;color: rgb(255, 255, 255); "
    "background-color: rgb(43, 63, 77); border: none; border-radius: 2px;";
const char ActionButtonStyle[] =
    "QToolButton {    font-size: 9pt;    font-weight: bold;    color: rgb(255, 255, 255);    "
    "background-color: rgb(59, 128, 245);    border: none;    border-radius: 3px;}"
    "QToolButton:disabled {    font-size: 9pt;    font-weight: bold;    color: rgb(255, 255, 255);    "
    "background-color: gray;    border: none;    border-radius: 3px;}";

// The device's text fields need not end in a NUL inside their capacity.
template <std::size_t N>
QString fieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, int(qstrnlen(field, N)));
}
} // namespace

UpgradePage::UpgradePage(QWidget *parent, UsbVirtualSerial *usbVirtualSerial,
                         SettingPage *settingPage, std::shared_ptr<const UpgradeClock> clock)
    : QWidget(parent)
    , ui(new Ui::UpgradePage)
    , m_usbVirtualSerial(usbVirtualSerial)
    , m_session(new DeviceSession(usbVirtualSerial, clock, this))
    , m_settingPage(settingPage)
    , m_fileChooser([this] { return FirmwareDialog::ask(this); })
{
    Q_ASSERT(usbVirtualSerial);
    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setAcceptDrops(true);
    ui->lbNote->clear();
    ui->progressBar->setFormat(QString());

    worker()->setChecksRestart(true);
    if (m_settingPage)
        connect(worker(), &UpgradeProcess::logMessage, m_settingPage, &SettingPage::handleLogMessage,
                Qt::QueuedConnection);

    m_presencePoller = new UsbCheck(m_usbVirtualSerial);
    m_detectThread = new QThread(this);
    m_presencePoller->moveToThread(m_detectThread);

    m_commandSender = new DeviceCommandSender(m_usbVirtualSerial, std::move(clock));
    m_commandThread = new QThread(this);
    m_commandSender->moveToThread(m_commandThread);
    connect(m_commandThread, &QThread::finished, m_commandSender, &QObject::deleteLater);
    m_commandThread->start();

    connectSignals();
    applyStyleSheets();
}

UpgradePage::~UpgradePage()
{
    delete ui;
    LOG_INFO << "#Upgrade process finished. Releasing resources...";
    // The session's pool task uses the link: it must be over first.
    delete m_session;
    m_commandThread->quit();
    m_commandThread->wait();
    setUpgradeFlag(false);
    if (m_detectThread->isRunning()) {
        m_detectThread->quit();
        m_detectThread->wait();
    } else if (!m_detectThread->isFinished()) {
        delete m_presencePoller; // never started: nothing will delete it on finish
    }
    LOG_INFO << "#m_upgradeFlag" << m_upgradeFlag;
}

void UpgradePage::connectSignals()
{
    connect(m_detectThread, &QThread::started, m_presencePoller, &UsbCheck::startDetection);
    connect(m_presencePoller, &UsbCheck::deviceDetected, this, &UpgradePage::handleDeviceDetected);
    connect(m_detectThread, &QThread::finished, m_presencePoller, &QObject::deleteLater);
    // The worker and the session speak from the pool thread: these arrive queued.
    UpgradeProcess *upgrades = worker();
    connect(upgrades, &UpgradeProcess::sigUpgProg, this, &UpgradePage::onUpgradeProgress, Qt::QueuedConnection);
    connect(upgrades, &UpgradeProcess::upgradeSucceeded, this, &UpgradePage::onUpgradeSucceeded,
            Qt::QueuedConnection);
    connect(upgrades, &UpgradeProcess::sigUpgradeWaiting, this, &UpgradePage::onUpgradeWaiting,
            Qt::QueuedConnection);
    connect(upgrades, &UpgradeProcess::finished, this, &UpgradePage::showOutcome, Qt::QueuedConnection);
    connect(m_session, &DeviceSession::connected, this, &UpgradePage::onConnected, Qt::QueuedConnection);
    connect(&m_search, &FirmwareSearch::found, this, &UpgradePage::onFirmwareFound);
    if (m_settingPage)
        connect(m_settingPage, &SettingPage::sendTextToDevice, this,
                &UpgradePage::handleTextFromSettingPage);
    connect(m_commandSender, &DeviceCommandSender::consoleRecordSent, this,
            &UpgradePage::onConsoleRecordSent);
}

void UpgradePage::applyStyleSheets()
{
    setStyleSheet(QLatin1String(PageStyle));
    ui->lbConnNote->setStyleSheet(QLatin1String(NameStyle));
    ui->label_3->setStyleSheet(QLatin1String(NameStyle));
    ui->btnConnDevice->setStyleSheet(QLatin1String(ConnectionButtonStyle));
    ui->btnDisConnDevice->setStyleSheet(QLatin1String(ConnectionButtonStyle));
    ui->btnSelectBinFile->setStyleSheet(QLatin1String(ActionButtonStyle));
    ui->btnUpgrade->setStyleSheet(QLatin1String(ActionButtonStyle));
}

void UpgradePage::setFileChooser(FileChooser chooser)
{
    m_fileChooser = std::move(chooser);
}

// ---- showing and presence ----------------------------------------------------------

// Coming back from another page, a connected page keeps its panel, note and
// bar as they were.
void UpgradePage::showEvent(QShowEvent *event)
{
    if (m_upgradeFlag || m_connected) {
        showUpgradePanel();
        ui->btnConnDevice->hide();
        ui->btnUsb->hide();
    } else {
        if (!m_detectThread->isRunning())
            m_detectThread->start(QThread::InheritPriority);
        enterDeviceConnNotePage();
    }
    QWidget::showEvent(event);
}

void UpgradePage::enterDeviceConnNotePage()
{
    ui->widgetUpg->hide();
    ui->widgetConn->show();
    ui->btnConnDevice->show();
    ui->btnUsb->hide();
}

void UpgradePage::showUpgradePanel()
{
    ui->widgetConn->hide();
    ui->widgetUpg->show();
}

QString UpgradePage::defaultDeviceName(int vid) const
{
    return DeviceNaming::defaultName(vid);
}

void UpgradePage::handleDeviceDetected(quint16 vid)
{
    m_usbVirtualSerial->set_usb_vid(vid);
    m_device_type = vid;
    const bool newDevice = vid != m_previousVid;
    m_previousVid = vid;
    if (newDevice)
        LOG_INFO << "device detected, vendor identifier" << vid; // once per change, not every poll
    if (DeviceNaming::keepsDefaultName(vid)) {
        if (newDevice) {
            QTimer::singleShot(NamePauseMs, this, [this, vid] {
                if (m_previousVid == vid) // not when another device has come meanwhile
                    ui->lbConnNote->setText(defaultDeviceName(vid));
            });
        }
        return;
    }
    ui->lbConnNote->setText(DeviceNaming::shownName(vid, m_config));
}

// ---- connecting ----------------------------------------------------------------------

void UpgradePage::warnUnlessWarningShown(const QString &title, const QString &text)
{
    if (m_isUsbWarningShown)
        return;
    m_isUsbWarningShown = true;
    LOG_DEBUG << "m_isUsbWarningShown:" << m_isUsbWarningShown;
    MessageBoxes::warning(this, title, text);
    m_isUsbWarningShown = false;
    LOG_DEBUG << "m_isUsbWarningShown:" << m_isUsbWarningShown;
}

void UpgradePage::on_btnConnDevice_clicked()
{
    if (ui->lbConnNote->text().compare(NoDeviceText, Qt::CaseInsensitive) == 0) {
        warnUnlessWarningShown(tr("提示"), tr("请连接USB设备"));
        return;
    }
    if (m_question != 0 || m_session->isBusy())
        return;
    ui->lbConnResult->hide(); // a new action: the last one's result is done
    // Asked off this thread: a silent device takes its whole answer time.
    // Meanwhile the panel says so, and Disconnect gives the question up.
    ui->btnConnDevice->setEnabled(false);
    showConnectingPanel();
    m_question = m_session->connectAsync(FindDeviceTransmissions);
}

void UpgradePage::showConnectingPanel()
{
    showUpgradePanel();
    ui->btnSelectBinFile->setEnabled(false);
    ui->btnUpgrade->setEnabled(false);
    for (QLabel *label : {ui->lbHardware, ui->lbSn, ui->lbFirmware, ui->lbChipTemp})
        label->clear();
    onUpgradeProgress(0);
    ui->progressBar->setFormat(QString());
    ui->lbNote->setText(tr("正在连接设备..."));
}

void UpgradePage::onConnected(const DeviceSession::Connection &connection)
{
    if (connection.question != m_question)
        return; // the user let go of that question meanwhile
    m_question = 0;
    ui->btnConnDevice->setEnabled(true);
    if (connection.answer == IdentityQuery::Answer::Identified) {
        enterUpgPage(m_usbVirtualSerial->get_usb_vid());
    } else {
        m_session->releasePort(); // a connection that did not come about holds no port
        ui->lbNote->clear();
        enterDeviceConnNotePage();
    }
    switch (connection.answer) {
    case IdentityQuery::Answer::Identified:
        break;
    case IdentityQuery::Answer::NoPort:
    case IdentityQuery::Answer::Unidentified:
        warnUnlessWarningShown(tr("提示"), tr("请连接USB设备"));
        break;
    case IdentityQuery::Answer::OpenFailed:
        warnUnlessWarningShown(tr("警告"), tr("无法打开升级串口，请重启FPV设备！"));
        break;
    case IdentityQuery::Answer::Denied:
        // Not the device's fault: restarting it would not help.
        warnUnlessWarningShown(tr("警告"), connection.access.deniedText());
        break;
    case IdentityQuery::Answer::Silent:
        warnUnlessWarningShown(tr("警告"), tr("升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！"));
        break;
    }
    emit connectAnswered();
}

void UpgradePage::enterUpgPage(int usb_vid)
{
    LOG_INFO << "usb_vid " << usb_vid;
    if (m_upgradeFlag) {
        showUpgradePanel();
        LOG_INFO << "enterUpgPage m_upgradeFlag " << m_upgradeFlag;
        return;
    }
    const DeviceIdentityInfo identity = m_session->identity();
    LOG_INFO << "chip_temperature" << identity.cpuTemp;
    LOG_INFO << "enterUpgPage m_upgradeFlag " << m_upgradeFlag;

    m_connected = true;
    showUpgradePanel();
    ui->btnUpgrade->setEnabled(false);
    ui->btnSelectBinFile->setEnabled(true);
    ui->lbNote->clear();
    setNoteLook(NoteLook::Plain);
    m_showsSuccess = false;
    onUpgradeProgress(0);
    ui->progressBar->setFormat(tr("请载入固件文件"));
    for (QLabel *label : {ui->lbHardware, ui->lbSn, ui->lbFirmware, ui->lbChipTemp})
        label->setFixedWidth(IdentityLabelWidth);
    keepIdentity(identity);
}

void UpgradePage::keepIdentity(const DeviceIdentityInfo &identity)
{
    std::memcpy(m_firmware, identity.firmware.data(), sizeof m_firmware);
    std::memcpy(m_sn_num, identity.serial.data(), sizeof m_sn_num);
    std::memcpy(m_hw_ver, identity.hardware.data(), sizeof m_hw_ver);
    m_chip_temperature = identity.cpuTemp;

    const QString firmwareStr = firmwareText();
    LOG_DEBUG << "firmwareStr" << firmwareStr;
    const QString deviceName = getDeviceName(firmwareStr);
    if (!deviceName.isEmpty())
        ui->label_3->setText(deviceName);
    showIdentity();
}

QString UpgradePage::firmwareText() const
{
    return fieldText(m_firmware);
}

void UpgradePage::showIdentity()
{
    ui->lbHardware->setText(IdentityDisplay::text(fieldText(m_hw_ver)));
    ui->lbSn->setText(IdentityDisplay::text(fieldText(m_sn_num)));
    ui->lbFirmware->setText(IdentityDisplay::text(firmwareText()));
    if (m_chip_temperature == NoTemperature)
        return;
    const QString temperature = IdentityDisplay::temperature(m_chip_temperature);
    ui->lbChipTemp->setText(IdentityDisplay::isPlausibleTemperature(m_chip_temperature)
                                ? temperature + DegreesCelsius
                                : temperature);
}

void UpgradePage::on_btnDisConnDevice_clicked()
{
    const bool cancelling = m_upgradeFlag;
    if (is_continue_upgrading_hint() == KeepUpgrading)
        return;
    disconnectDevice();
    if (cancelling) {
        // The prompt tells what became of the upgrade until the user acts again.
        ui->lbConnResult->setText(cancelledNote());
        ui->lbConnResult->show();
    }
}

// Disconnect's work, also done when the window closes during an upgrade.
void UpgradePage::disconnectDevice()
{
    m_question = 0;
    m_connected = false;
    m_search.forget();
    ui->btnConnDevice->setEnabled(true);
    m_session->disconnectDevice();
    setUpgradeFlag(false);
    m_showsSuccess = false;
    enterDeviceConnNotePage();
    waitForRunningTask();
}

void UpgradePage::on_btnUsb_clicked()
{
    LOG_INFO << "on_btnUsb_clicked";
    enterDeviceConnNotePage();
}

void UpgradePage::on_btnQA_clicked()
{
}

// ---- language and closing ------------------------------------------------------------

void UpgradePage::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        LOG_INFO << "changeEvent m_device_type " << m_device_type;
        // The other units get their name back with the next presence report.
        if (DeviceNaming::keepsDefaultName(m_device_type))
            ui->lbConnNote->setText(defaultDeviceName(m_device_type));
        showIdentity();
    }
    QWidget::changeEvent(event);
}

bool UpgradePage::mayClose()
{
    if (!m_upgradeFlag)
        return true;
    if (is_continue_upgrading_hint() == KeepUpgrading)
        return false;
    disconnectDevice();
    return true;
}

void UpgradePage::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
