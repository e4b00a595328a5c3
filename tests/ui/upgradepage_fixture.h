#ifndef UPGRADEPAGE_FIXTURE_H
#define UPGRADEPAGE_FIXTURE_H

#include "devicenaming.h"
#include "expectedboxes.h"
#include "fixedportlister.h"
#include "logcapture.h"
#include "settingpage.h"
#include "simulateddevice.h"
#include "testbytes.h"
#include "upgradepage.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// Texts of the page's boxes, as the user reads them.
namespace PageTexts {
const QString Hint = QStringLiteral("提示");
const QString Warning = QStringLiteral("警告");
const QString ConnectUsb = QStringLiteral("请连接USB设备");
const QString NoCommunication =
    QStringLiteral("升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！");
const QString CannotOpen = QStringLiteral("无法打开升级串口，请重启FPV设备！");
const QString StillUpgrading = QStringLiteral("正在升级中，是否结束？");
const QString Upgrading = QStringLiteral("升级中，请勿断电或重启！");
const QString Finished = QStringLiteral("升级完成！");
const QString Verified = QStringLiteral("升级完成！ 已验证"); // the restarted device runs the new firmware
const QString LoadFirmware = QStringLiteral("请载入固件文件");
} // namespace PageTexts

// One test's world: a fresh working directory (for "setting.ini" and the
// package part files), an optional simulated device, and the page on a link.
class PageFixture
{
public:
    PageFixture() : m_previousDir(QDir::currentPath()) { QDir::setCurrent(m_workDir.path()); }
    ~PageFixture()
    {
        page.reset();
        settingPage.reset();
        device.reset();
        plainLink.reset();
        QDir::setCurrent(m_previousDir);
        m_upgrade_device_vid = 0;
    }

    // A device on a pty with this identity; false when the pty failed. Like
    // a real unit it restarts after its upgrade, with the new firmware.
    bool startDevice(const DeviceIdentity &identity = DeviceIdentity())
    {
        device.reset(new SimulatedDevice(identity));
        device->sim.setAfterUpgrade(SimScript::AfterUpgrade::RestartWithNewFirmware);
        return device->start();
    }

    // The page, unshown, on the device's link or else on a link to `plainPorts`.
    UpgradePage *makePage(SettingPage *settings = nullptr,
                          std::shared_ptr<const UpgradeClock> clock = std::make_shared<SystemClock>())
    {
        UsbVirtualSerial *link = device ? device->link.get() : nullptr;
        if (!link) {
            plainLink.reset(new UsbVirtualSerial(plainPorts));
            link = plainLink.get();
        }
        page.reset(new UpgradePage(nullptr, link, settings, std::move(clock)));
        // The connect prompt, as the first showing leaves it, but without the
        // presence poller, whose reports would overwrite the test's own.
        page->enterDeviceConnNotePage();
        return page.get();
    }

    template <typename Widget>
    Widget *widget(const char *name) const
    {
        return page->findChild<Widget *>(QLatin1String(name));
    }
    QString text(const char *label) const { return widget<QLabel>(label)->text(); }
    QProgressBar *bar() const { return widget<QProgressBar>("progressBar"); }
    // Presses `button`. Connect's question runs off the window's thread: the
    // click returns once its answer is shown, as the user waits for it.
    void click(const char *button) const
    {
        QSignalSpy answered(page.get(), &UpgradePage::connectAnswered);
        QToolButton *pressed = widget<QToolButton>(button);
        pressed->click();
        if (qstrcmp(button, "btnConnDevice") == 0 && !pressed->isEnabled())
            answered.wait(ConnectAnswerMs);
    }
    static constexpr int ConnectAnswerMs = 20000;
    bool shown(const char *name) const { return !widget<QWidget>(name)->isHidden(); }

    // Reports the device as present and, once the page names it, presses Connect.
    void connectTo(quint16 vid)
    {
        page->handleDeviceDetected(vid);
        if (DeviceNaming::keepsDefaultName(vid))
            QTRY_VERIFY(text("lbConnNote") == DeviceNaming::defaultName(vid));
        click("btnConnDevice");
    }

    QString writeFile(const QString &name, const QByteArray &bytes) const
    {
        const QString path = m_workDir.filePath(QStringLiteral("images/") + name);
        QDir().mkpath(QFileInfo(path).path());
        return TestBytes::writeFile(path, bytes) ? path : QString();
    }
    // Makes the file dialog answer `path` (empty: cancelled); counts its uses.
    void chooseFile(const QString &path)
    {
        page->setFileChooser([this, path] {
            ++chooserCalls;
            return path;
        });
    }
    // Chooses `path` (empty: cancelled) with the file button.
    void choose(const QString &path)
    {
        chooseFile(path);
        click("btnSelectBinFile");
    }

    void writeDeviceName(quint16 vid, const QString &name) const
    {
        QSettings settings(QStringLiteral("setting.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Devices Name/") + DeviceConfig::keyFor(vid), name);
    }

    LogCapture log;
    ExpectedBoxes boxes;
    std::unique_ptr<SimulatedDevice> device;
    std::shared_ptr<FixedPortLister> plainPorts = std::make_shared<FixedPortLister>();
    std::unique_ptr<UsbVirtualSerial> plainLink;
    std::unique_ptr<SettingPage> settingPage; // outlives the page that uses it
    std::unique_ptr<UpgradePage> page;
    int chooserCalls = 0;

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;
};

#endif // UPGRADEPAGE_FIXTURE_H
