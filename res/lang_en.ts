<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
<context>
    <name>ConsoleCommand</name>
    <message>
        <source>命令中没有字节：请输入十六进制字节，如 4F 54</source>
        <translation>The command holds no bytes: enter hex bytes such as 4F 54</translation>
    </message>
    <message>
        <source>命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）</source>
        <translation>Invalid command: %2 in %1 is not a hex digit (0-9, A-F)</translation>
    </message>
    <message>
        <source>命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字</source>
        <translation>Invalid command: %1 has an odd number of digits; each byte takes two hex digits</translation>
    </message>
</context>
<context>
    <name>FirmwareChoice</name>
    <message>
        <source>选用</source>
        <translation>chosen</translation>
    </message>
    <message>
        <source>属于其他设备</source>
        <translation>for another device</translation>
    </message>
    <message>
        <source>版本低于设备当前固件</source>
        <translation>older than the device&apos;s firmware</translation>
    </message>
    <message>
        <source>是多镜像升级包，此设备只接受单个镜像</source>
        <translation>a multi-image package; this device takes a single image</translation>
    </message>
    <message>
        <source>是单个镜像，此设备只接受多镜像升级包</source>
        <translation>a single image; this device takes a multi-image package</translation>
    </message>
    <message>
        <source>文件为空</source>
        <translation>empty</translation>
    </message>
    <message>
        <source>无法读取</source>
        <translation>cannot be read</translation>
    </message>
    <message>
        <source>有更新的版本</source>
        <translation>a newer version fits</translation>
    </message>
    <message>
        <source>与选用的文件内容相同</source>
        <translation>the same as the chosen file</translation>
    </message>
    <message>
        <source>与另一个同版本的文件内容不同</source>
        <translation>differs from another file of the same version</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>没有固件文件</source>
        <translation>no firmware files</translation>
    </message>
    <message>
        <source>无法读取文件夹 %1！</source>
        <translation>The folder %1 cannot be read!</translation>
    </message>
    <message>
        <source>%1 取自 %2：%3 → %4</source>
        <translation>%1 from %2: %3 → %4</translation>
    </message>
    <message>
        <source>设备已是最新版本 %1（%2 中最新的是 %3）</source>
        <translation>The device is up to date at %1 (the newest in %2 is %3)</translation>
    </message>
    <message>
        <source>%1 与 %2 版本相同但内容不同，无法确定使用哪一个！</source>
        <translation>%1 and %2 have the same version but different content: which one to use cannot be decided!</translation>
    </message>
    <message>
        <source>%1 中没有适合此设备的固件：需要 %2，版本不低于 %3。最接近的：%4</source>
        <translation>Nothing in %1 fits this device: looked for %2, version %3 or newer. Nearest: %4</translation>
    </message>
    <message>
        <source>压缩包 %1 已损坏！</source>
        <translation>The archive %1 is damaged!</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 指向压缩包以外！</source>
        <translation>The archive %1 cannot be used: %2 leads out of its folder!</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 是链接！</source>
        <translation>The archive %1 cannot be used: %2 is a link!</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 已加密！</source>
        <translation>The archive %1 cannot be used: %2 is encrypted!</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 解压后超过 %3 MB！</source>
        <translation>The archive %1 cannot be used: %2 expands beyond %3 MB!</translation>
    </message>
    <message>
        <source>%1 无法解压到 %2：%3</source>
        <translation>%1 cannot be extracted into %2: %3</translation>
    </message>
</context>
<context>
    <name>PortAccess</name>
    <message>
        <source>没有权限打开串口%1。请安装本程序的udev规则%2后重新插拔设备，或将当前用户加入该串口所属的组%3（sudo usermod -aG %3 $USER）后重新登录。</source>
        <translation>No permission to open the serial port %1. Install the program&apos;s udev rule %2 and plug the device in again, or add your user to the port&apos;s group %3 (sudo usermod -aG %3 $USER) and log in again.</translation>
    </message>
</context>
<context>
    <name>RestartCheck</name>
    <message>
        <source>已验证</source>
        <translation>verified</translation>
    </message>
    <message>
        <source>未通过验证：重启后的设备报告固件 %1，与 %2 的版本不符</source>
        <translation>not verified: the restarted device reports firmware %1, not the version %2 announces</translation>
    </message>
    <message>
        <source>未通过验证：设备重启后没有应答</source>
        <translation>not verified: the device did not answer after its restart</translation>
    </message>
</context>
<context>
    <name>SettingPage</name>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>串口</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>请输入要发送的指令</source>
        <translation>please enter the command to send</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>send</translation>
    </message>
    <message>
        <source>日志</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>© 2026 Tavio。保留所有权利。</source>
        <translation>© 2026 Tavio. All rights reserved.</translation>
    </message>
    <message>
        <source>中文</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>English</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>提示</source>
        <translation>hint</translation>
    </message>
    <message>
        <source>请输入指令</source>
        <translation>Please enter the command</translation>
    </message>
</context>
<context>
    <name>SideBar</name>
    <message>
        <source>升级固件</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>版本号：V1.1.6</source>
        <translation>Version: V1.1.6</translation>
    </message>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SideBarMenuItem</name>
    <message>
        <source>Form</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>升级固件</source>
        <translation>Upgrade</translation>
    </message>
</context>
<context>
    <name>UpgradePage</name>
    <message>
        <source>常见问题</source>
        <translation>FAQ</translation>
    </message>
    <message>
        <source>NO Device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>连接设备</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Merlow FPV</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>硬件版本号：</source>
        <translation>HardwareVer:</translation>
    </message>
    <message>
        <source>SN号：</source>
        <translation>SN:</translation>
    </message>
    <message>
        <source>固件：</source>
        <translation>Firmware:</translation>
    </message>
    <message>
        <source>芯片温度：</source>
        <translation>Temperature:</translation>
    </message>
    <message>
        <source>选择固件</source>
        <translation>Select</translation>
    </message>
    <message>
        <source>烧写固件</source>
        <translation>Upgrade</translation>
    </message>
    <message>
        <source>© 2026 Tavio。保留所有权利。</source>
        <translation>© 2026 Tavio. All rights reserved.</translation>
    </message>
    <message>
        <source>Merlow Gnd</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Merlow Sky</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>提示</source>
        <translation>hint</translation>
    </message>
    <message>
        <source>请连接USB设备</source>
        <translation>Please connect USB device</translation>
    </message>
    <message>
        <source>请载入固件文件</source>
        <translation>Please Load The Firmware</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>无法打开升级串口，请重启FPV设备！</source>
        <translation>unable to open the upgrade serial port, please restart the FPV device!</translation>
    </message>
    <message>
        <source>升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！</source>
        <translation>The upgrade serial port cannot communicate. Please wait or restart the FPV device, and re-plug the USB on the device side!</translation>
    </message>
    <message>
        <source>升级进行中，无法发送命令</source>
        <translation>Upgrade in progress, Send command failed</translation>
    </message>
    <message>
        <source>发送失败,请连接USB设备</source>
        <translation>Send failed, Please connect USB device</translation>
    </message>
    <message>
        <source>控制台命令：只发送了前%1个字节（共%2个）</source>
        <translation>Console command: only the first %1 of %2 bytes were sent</translation>
    </message>
    <message>
        <source>发送成功</source>
        <translation>Send Success</translation>
    </message>
    <message>
        <source>发送失败</source>
        <translation>Send Failed</translation>
    </message>
    <message>
        <source>正在升级中，是否结束？</source>
        <translation>upgrading, are you ready to finish?</translation>
    </message>
    <message>
        <source>升级固件文件名错误！</source>
        <translation>The upgrade firmware file name is incorrect!</translation>
    </message>
    <message>
        <source>升级固件与设备不匹配！请检查！</source>
        <translation>The upgrade firmware does not match the device! Please check!</translation>
    </message>
    <message>
        <source>升级固件版本过低！请检查！</source>
        <translation>The upgrade firmware version is too low! Please check!</translation>
    </message>
    <message>
        <source>升级中，请勿断电或重启！</source>
        <translation>Upgrading,do not restart or turn power off!</translation>
    </message>
    <message>
        <source>升级完成！</source>
        <translation>upgrade finished!</translation>
    </message>
    <message>
        <source>升级失败，请检查文件重新导入</source>
        <translation>Upgrade failed, Please check the file and import it again</translation>
    </message>
    <message>
        <source>升级固件文件为空！请检查！</source>
        <translation>The upgrade firmware file is empty! Please check!</translation>
    </message>
    <message>
        <source>升级固件不是正常的文件！请检查！</source>
        <translation>The upgrade firmware is not a regular file! Please check!</translation>
    </message>
    <message>
        <source>正在连接设备...</source>
        <translation>Connecting to the device...</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>固件或压缩包 (*.img *.zip)</source>
        <translation>Firmware or archive (*.img *.zip)</translation>
    </message>
    <message>
        <source>正在 %1 中查找适合此设备的固件...</source>
        <translation>Looking in %1 for this device&apos;s firmware...</translation>
    </message>
</context>
<context>
    <name>UpgradeProcess</name>
    <message>
        <source>升级错误：未知错误！请重启设备再次升级！</source>
        <translation>Upgrade error: Unknown error!</translation>
    </message>
    <message>
        <source>Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.</source>
        <translation>Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.</translation>
    </message>
    <message>
        <source>The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.</source>
        <translation>The FPV device failed to reboot correctly. Please restart the device and try the upgrade process again.</translation>
    </message>
    <message>
        <source>The FPV device did not come back after its reboot, please restart the device to upgrade again.</source>
        <translation>The FPV device did not come back after its reboot, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>upgrade image transfer failed, please restart the device to upgrade again.</source>
        <translation>upgrade image transfer failed, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>open upgrade firmware fail!</source>
        <translation>open upgrade firmware fail!</translation>
    </message>
    <message>
        <source>打开升级固件失败!</source>
        <translation>Failed to open the firmware upgrade!</translation>
    </message>
    <message>
        <source>FPV设备无法正确重启，请重启设备并重试升级。</source>
        <translation>The FPV device failed to reboot correctly. Please reboot the device and try the upgrade again.</translation>
    </message>
    <message>
        <source>waiting for reconnection...</source>
        <translation>waiting for reconnection...</translation>
    </message>
    <message>
        <source>FPV设备重启后未能重新连接，请重启设备再次升级。</source>
        <translation>The FPV device did not reconnect after its reboot. Please restart the device and upgrade again.</translation>
    </message>
    <message>
        <source>fpv reconnection successfully.</source>
        <translation>fpv reconnection successfully.</translation>
    </message>
    <message>
        <source>Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。</source>
        <translation>Tavio PC Tool open upgrade image file fail, please restart the Tavio PC Tool to upgrade again.</translation>
    </message>
    <message>
        <source>upgrade firmware send start.</source>
        <translation>upgrade firmware send start.</translation>
    </message>
    <message>
        <source>upgrade firmware sending...</source>
        <translation>upgrade firmware sending...</translation>
    </message>
    <message>
        <source>upgrade firmware send end.</source>
        <translation>upgrade firmware send end.</translation>
    </message>
    <message>
        <source>entering the upgrade state.</source>
        <translation>entering the upgrade state.</translation>
    </message>
    <message>
        <source>升级固件传输失败，请重启设备再次升级。</source>
        <translation>The firmware upgrade failed. Please restart the device and upgrade again.</translation>
    </message>
    <message>
        <source>升级错误：未检测到SD卡！</source>
        <translation>Upgrade Error: No SD card detected!</translation>
    </message>
    <message>
        <source>升级错误：未连接到电脑</source>
        <translation>Upgrade error: Not connected to computer</translation>
    </message>
    <message>
        <source>升级错误：未找到升级固件，请检查升级固件是否正确！</source>
        <translation>Upgrade error: The upgrade firmware is not found, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级错误：升级文件已损坏，请检查升级固件是否正确！</source>
        <translation>Upgrade error: The upgrade file is damaged, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！</source>
        <translation>Upgrade error: The device board type does not match the upgrade firmware. Please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级错误：升级固件版本号过低，请检查升级固件是否正确！</source>
        <translation>Upgrade error: The upgrade firmware version is too low, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级错误：无效的升级方式！</source>
        <translation>Upgrade error: Invalid upgrade method!</translation>
    </message>
    <message>
        <source>升级错误：无效的升级固件类型，请检查升级固件是否正确！</source>
        <translation>Upgrade error: Invalid upgrade firmware type, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级错误：Flash错误，请重启设备再次升级！</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>升级状态失败，请重启设备再次升级。</source>
        <translation>The upgrade status failed. Please restart the device and upgrade again.</translation>
    </message>
    <message>
        <source>upgrade timeout, please restart the device to upgrade again.</source>
        <translation>upgrade timeout, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>升级超时，请重启设备再次升级。</source>
        <translation>The upgrade has timed out. Please restart the device and upgrade again.</translation>
    </message>
    <message>
        <source>abnormal termination, please restart the device to upgrade again.</source>
        <translation>abnormal termination, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>异常终止，请重启设备再次升级。</source>
        <translation>Abnormal termination, please restart the device and upgrade again.</translation>
    </message>
    <message>
        <source>the device reported no usable maximum segment length, please restart the device and connect again.</source>
        <translation>the device reported no usable maximum segment length, please restart the device and connect again.</translation>
    </message>
    <message>
        <source>设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。</source>
        <translation>The device reported an invalid maximum data length, so it cannot be upgraded. Please restart the device and connect again.</translation>
    </message>
    <message>
        <source>无法打开升级包，请检查升级固件是否正确！</source>
        <translation>The upgrade package cannot be opened, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级包格式错误，请检查升级固件是否正确！</source>
        <translation>The upgrade package is not in a valid format, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级包已损坏或不完整，请检查升级固件是否正确！</source>
        <translation>The upgrade package is damaged or incomplete, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>无法写出升级包的分区文件，请检查磁盘空间！</source>
        <translation>The parts of the upgrade package cannot be written, please check the free disk space!</translation>
    </message>
    <message>
        <source>升级包中没有需要升级的固件，请检查升级固件是否正确！</source>
        <translation>The upgrade package holds no firmware to upgrade, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级包中有分区的位置在包的格式信息区中，请检查升级固件是否正确！</source>
        <translation>A part of the upgrade package starts inside its header, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级包中的分区位置前后错误或有重复，请检查升级固件是否正确！</source>
        <translation>The parts of the upgrade package overlap or are out of order, please check whether the upgrade firmware is correct!</translation>
    </message>
    <message>
        <source>升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！</source>
        <translation>The upgrade firmware file was changed during the upgrade, so the upgrade was stopped. Please choose the firmware again and upgrade again!</translation>
    </message>
    <message>
        <source>the device was disconnected during its upgrade and did not come back, please restart the device to upgrade again.</source>
        <translation>the device was disconnected during its upgrade and did not come back, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>设备在升级中断开连接，等待%1秒后仍未重新连接。</source>
        <translation>The device was disconnected during its upgrade and did not come back within %1 s.</translation>
    </message>
    <message>
        <source>正在等待设备重启，已等待%1秒（最长%2秒）</source>
        <translation>Waiting for the device to restart: %1 s so far (up to %2 s)</translation>
    </message>
    <message>
        <source>正在等待设备的校验结果，已等待%1秒（最长%2秒）</source>
        <translation>Waiting for the device&apos;s verdict: %1 s so far (up to %2 s)</translation>
    </message>
    <message>
        <source>设备升级状态已%1秒没有更新（最长%2秒）</source>
        <translation>The device&apos;s upgrade status has not changed for %1 s (up to %2 s)</translation>
    </message>
    <message>
        <source>设备已断开连接，正在等待设备重新连接，已等待%1秒（最长%2秒）</source>
        <translation>The device was disconnected, waiting for it to come back: %1 s so far (up to %2 s)</translation>
    </message>
    <message>
        <source>正在等待设备重启后验证固件，已等待%1秒（最长%2秒）</source>
        <translation>Waiting for the restarted device to verify its firmware: %1 s so far (up to %2 s)</translation>
    </message>
    <message>
        <source>升级超过了时间限制，已中止。</source>
        <translation>The upgrade ran past the time it was given and was stopped.</translation>
    </message>
</context>
</TS>
