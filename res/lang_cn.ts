<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
<context>
    <name>ConsoleCommand</name>
    <message>
        <source>命令中没有字节：请输入十六进制字节，如 4F 54</source>
        <translation>命令中没有字节：请输入十六进制字节，如 4F 54</translation>
    </message>
    <message>
        <source>命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）</source>
        <translation>命令无效：%1 中的 %2 不是十六进制数字（0-9、A-F）</translation>
    </message>
    <message>
        <source>命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字</source>
        <translation>命令无效：%1 的位数为奇数，每个字节需要两位十六进制数字</translation>
    </message>
</context>
<context>
    <name>FirmwareChoice</name>
    <message>
        <source>选用</source>
        <translation>选用</translation>
    </message>
    <message>
        <source>属于其他设备</source>
        <translation>属于其他设备</translation>
    </message>
    <message>
        <source>版本低于设备当前固件</source>
        <translation>版本低于设备当前固件</translation>
    </message>
    <message>
        <source>是多镜像升级包，此设备只接受单个镜像</source>
        <translation>是多镜像升级包，此设备只接受单个镜像</translation>
    </message>
    <message>
        <source>是单个镜像，此设备只接受多镜像升级包</source>
        <translation>是单个镜像，此设备只接受多镜像升级包</translation>
    </message>
    <message>
        <source>文件为空</source>
        <translation>文件为空</translation>
    </message>
    <message>
        <source>无法读取</source>
        <translation>无法读取</translation>
    </message>
    <message>
        <source>有更新的版本</source>
        <translation>有更新的版本</translation>
    </message>
    <message>
        <source>与选用的文件内容相同</source>
        <translation>与选用的文件内容相同</translation>
    </message>
    <message>
        <source>与另一个同版本的文件内容不同</source>
        <translation>与另一个同版本的文件内容不同</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1（%2）</translation>
    </message>
    <message>
        <source>没有固件文件</source>
        <translation>没有固件文件</translation>
    </message>
    <message>
        <source>无法读取文件夹 %1！</source>
        <translation>无法读取文件夹 %1！</translation>
    </message>
    <message>
        <source>%1 取自 %2：%3 → %4</source>
        <translation>%1 取自 %2：%3 → %4</translation>
    </message>
    <message>
        <source>设备已是最新版本 %1（%2 中最新的是 %3）</source>
        <translation>设备已是最新版本 %1（%2 中最新的是 %3）</translation>
    </message>
    <message>
        <source>%1 与 %2 版本相同但内容不同，无法确定使用哪一个！</source>
        <translation>%1 与 %2 版本相同但内容不同，无法确定使用哪一个！</translation>
    </message>
    <message>
        <source>%1 中没有适合此设备的固件：需要 %2，版本不低于 %3。最接近的：%4</source>
        <translation>%1 中没有适合此设备的固件：需要 %2，版本不低于 %3。最接近的：%4</translation>
    </message>
    <message>
        <source>压缩包 %1 已损坏！</source>
        <translation>压缩包 %1 已损坏！</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 指向压缩包以外！</source>
        <translation>压缩包 %1 不能使用：%2 指向压缩包以外！</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 是链接！</source>
        <translation>压缩包 %1 不能使用：%2 是链接！</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 已加密！</source>
        <translation>压缩包 %1 不能使用：%2 已加密！</translation>
    </message>
    <message>
        <source>压缩包 %1 不能使用：%2 解压后超过 %3 MB！</source>
        <translation>压缩包 %1 不能使用：%2 解压后超过 %3 MB！</translation>
    </message>
    <message>
        <source>%1 无法解压到 %2：%3</source>
        <translation>%1 无法解压到 %2：%3</translation>
    </message>
</context>
<context>
    <name>PortAccess</name>
    <message>
        <source>没有权限打开串口%1。请安装本程序的udev规则%2后重新插拔设备，或将当前用户加入该串口所属的组%3（sudo usermod -aG %3 $USER）后重新登录。</source>
        <translation>没有权限打开串口%1。请安装本程序的udev规则%2后重新插拔设备，或将当前用户加入该串口所属的组%3（sudo usermod -aG %3 $USER）后重新登录。</translation>
    </message>
</context>
<context>
    <name>RestartCheck</name>
    <message>
        <source>已验证</source>
        <translation>已验证</translation>
    </message>
    <message>
        <source>未通过验证：重启后的设备报告固件 %1，与 %2 的版本不符</source>
        <translation>未通过验证：重启后的设备报告固件 %1，与 %2 的版本不符</translation>
    </message>
    <message>
        <source>未通过验证：设备重启后没有应答</source>
        <translation>未通过验证：设备重启后没有应答</translation>
    </message>
</context>
<context>
    <name>SettingPage</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>串口</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>请输入要发送的指令</source>
        <translation>请输入要发送的指令</translation>
    </message>
    <message>
        <source>发送</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>日志</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>© 2026 Tavio。保留所有权利。</source>
        <translation>© 2026 Tavio。保留所有权利。</translation>
    </message>
    <message>
        <source>中文</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>请输入指令</source>
        <translation>请输入指令</translation>
    </message>
</context>
<context>
    <name>SideBar</name>
    <message>
        <source>升级固件</source>
        <translation>升级固件</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>版本号：V1.1.6</source>
        <translation>版本号：V1.1.6</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
</context>
<context>
    <name>SideBarMenuItem</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>升级固件</source>
        <translation>升级固件</translation>
    </message>
</context>
<context>
    <name>UpgradePage</name>
    <message>
        <source>常见问题</source>
        <translation>常见问题</translation>
    </message>
    <message>
        <source>NO Device</source>
        <translation>NO Device</translation>
    </message>
    <message>
        <source>连接设备</source>
        <translation>连接设备</translation>
    </message>
    <message>
        <source>Merlow FPV</source>
        <translation>Merlow FPV</translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>断开连接</translation>
    </message>
    <message>
        <source>硬件版本号：</source>
        <translation>硬件版本号：</translation>
    </message>
    <message>
        <source>SN号：</source>
        <translation>SN号：</translation>
    </message>
    <message>
        <source>固件：</source>
        <translation>固件：</translation>
    </message>
    <message>
        <source>芯片温度：</source>
        <translation>芯片温度：</translation>
    </message>
    <message>
        <source>选择固件</source>
        <translation>选择固件</translation>
    </message>
    <message>
        <source>烧写固件</source>
        <translation>烧写固件</translation>
    </message>
    <message>
        <source>© 2026 Tavio。保留所有权利。</source>
        <translation>© 2026 Tavio。保留所有权利。</translation>
    </message>
    <message>
        <source>Merlow Gnd</source>
        <translation>Merlow Gnd</translation>
    </message>
    <message>
        <source>Merlow Sky</source>
        <translation>Merlow Sky</translation>
    </message>
    <message>
        <source>提示</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>请连接USB设备</source>
        <translation>请连接USB设备</translation>
    </message>
    <message>
        <source>请载入固件文件</source>
        <translation>请载入固件文件</translation>
    </message>
    <message>
        <source>警告</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>无法打开升级串口，请重启FPV设备！</source>
        <translation>无法打开升级串口，请重启FPV设备！</translation>
    </message>
    <message>
        <source>升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！</source>
        <translation>升级串口无法通信，请等待或重启FPV设备,并重新插拔设备侧USB！</translation>
    </message>
    <message>
        <source>升级进行中，无法发送命令</source>
        <translation>升级进行中，无法发送命令</translation>
    </message>
    <message>
        <source>发送失败,请连接USB设备</source>
        <translation>发送失败,请连接USB设备</translation>
    </message>
    <message>
        <source>控制台命令：只发送了前%1个字节（共%2个）</source>
        <translation>控制台命令：只发送了前%1个字节（共%2个）</translation>
    </message>
    <message>
        <source>发送成功</source>
        <translation>发送成功</translation>
    </message>
    <message>
        <source>发送失败</source>
        <translation>发送失败</translation>
    </message>
    <message>
        <source>正在升级中，是否结束？</source>
        <translation>正在升级中，是否结束？</translation>
    </message>
    <message>
        <source>升级固件文件名错误！</source>
        <translation>升级固件文件名错误！</translation>
    </message>
    <message>
        <source>升级固件与设备不匹配！请检查！</source>
        <translation>升级固件与设备不匹配！请检查！</translation>
    </message>
    <message>
        <source>升级固件版本过低！请检查！</source>
        <translation>升级固件版本过低！请检查！</translation>
    </message>
    <message>
        <source>升级中，请勿断电或重启！</source>
        <translation>升级中，请勿断电或重启！</translation>
    </message>
    <message>
        <source>升级完成！</source>
        <translation>升级完成！</translation>
    </message>
    <message>
        <source>升级失败，请检查文件重新导入</source>
        <translation>升级失败，请检查文件重新导入</translation>
    </message>
    <message>
        <source>升级固件文件为空！请检查！</source>
        <translation>升级固件文件为空！请检查！</translation>
    </message>
    <message>
        <source>升级固件不是正常的文件！请检查！</source>
        <translation>升级固件不是正常的文件！请检查！</translation>
    </message>
    <message>
        <source>正在连接设备...</source>
        <translation>正在连接设备...</translation>
    </message>
    <message>
        <source>已取消</source>
        <translation>已取消</translation>
    </message>
    <message>
        <source>所有文件 (*)</source>
        <translation>所有文件 (*)</translation>
    </message>
    <message>
        <source>固件或压缩包 (*.img *.zip)</source>
        <translation>固件或压缩包 (*.img *.zip)</translation>
    </message>
    <message>
        <source>正在 %1 中查找适合此设备的固件...</source>
        <translation>正在 %1 中查找适合此设备的固件...</translation>
    </message>
</context>
<context>
    <name>UpgradeProcess</name>
    <message>
        <source>升级错误：未知错误！请重启设备再次升级！</source>
        <translation>升级错误：未知错误！</translation>
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
        <translation>打开升级固件失败!</translation>
    </message>
    <message>
        <source>FPV设备无法正确重启，请重启设备并重试升级。</source>
        <translation>FPV设备无法正确重启，请重启设备并重试升级。</translation>
    </message>
    <message>
        <source>waiting for reconnection...</source>
        <translation>waiting for reconnection...</translation>
    </message>
    <message>
        <source>FPV设备重启后未能重新连接，请重启设备再次升级。</source>
        <translation>FPV设备重启后未能重新连接，请重启设备再次升级。</translation>
    </message>
    <message>
        <source>fpv reconnection successfully.</source>
        <translation>fpv reconnection successfully.</translation>
    </message>
    <message>
        <source>Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。</source>
        <translation>Tavio PC Tool打开升级固件失败，请重启Tavio PC Tool并再次升级。</translation>
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
        <translation>升级固件传输失败，请重启设备再次升级。</translation>
    </message>
    <message>
        <source>升级错误：未检测到SD卡！</source>
        <translation>升级错误：未检测到SD卡！</translation>
    </message>
    <message>
        <source>升级错误：未连接到电脑</source>
        <translation>升级错误：未连接到电脑</translation>
    </message>
    <message>
        <source>升级错误：未找到升级固件，请检查升级固件是否正确！</source>
        <translation>升级错误：未找到升级固件，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级错误：升级文件已损坏，请检查升级固件是否正确！</source>
        <translation>升级错误：升级文件已损坏，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！</source>
        <translation>升级错误：设备板型与升级固件不匹配，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级错误：升级固件版本号过低，请检查升级固件是否正确！</source>
        <translation>升级错误：升级固件版本号过低，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级错误：无效的升级方式！</source>
        <translation>升级错误：无效的升级方式！</translation>
    </message>
    <message>
        <source>升级错误：无效的升级固件类型，请检查升级固件是否正确！</source>
        <translation>升级错误：无效的升级固件类型，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级错误：Flash错误，请重启设备再次升级！</source>
        <translation>升级错误：Flash错误，请重启设备再次升级！</translation>
    </message>
    <message>
        <source>升级状态失败，请重启设备再次升级。</source>
        <translation>升级状态失败，请重启设备再次升级。</translation>
    </message>
    <message>
        <source>upgrade timeout, please restart the device to upgrade again.</source>
        <translation>upgrade timeout, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>升级超时，请重启设备再次升级。</source>
        <translation>升级超时，请重启设备再次升级。</translation>
    </message>
    <message>
        <source>abnormal termination, please restart the device to upgrade again.</source>
        <translation>abnormal termination, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>异常终止，请重启设备再次升级。</source>
        <translation>异常终止，请重启设备再次升级。</translation>
    </message>
    <message>
        <source>the device reported no usable maximum segment length, please restart the device and connect again.</source>
        <translation>the device reported no usable maximum segment length, please restart the device and connect again.</translation>
    </message>
    <message>
        <source>设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。</source>
        <translation>设备报告的最大数据长度无效，无法升级，请重启设备后重新连接。</translation>
    </message>
    <message>
        <source>无法打开升级包，请检查升级固件是否正确！</source>
        <translation>无法打开升级包，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级包格式错误，请检查升级固件是否正确！</source>
        <translation>升级包格式错误，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级包已损坏或不完整，请检查升级固件是否正确！</source>
        <translation>升级包已损坏或不完整，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>无法写出升级包的分区文件，请检查磁盘空间！</source>
        <translation>无法写出升级包的分区文件，请检查磁盘空间！</translation>
    </message>
    <message>
        <source>升级包中没有需要升级的固件，请检查升级固件是否正确！</source>
        <translation>升级包中没有需要升级的固件，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级包中有分区的位置在包的格式信息区中，请检查升级固件是否正确！</source>
        <translation>升级包中有分区的位置在包的格式信息区中，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级包中的分区位置前后错误或有重复，请检查升级固件是否正确！</source>
        <translation>升级包中的分区位置前后错误或有重复，请检查升级固件是否正确！</translation>
    </message>
    <message>
        <source>升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！</source>
        <translation>升级固件文件在升级中被修改，升级已中止，请重新选择固件后再次升级！</translation>
    </message>
    <message>
        <source>the device was disconnected during its upgrade and did not come back, please restart the device to upgrade again.</source>
        <translation>the device was disconnected during its upgrade and did not come back, please restart the device to upgrade again.</translation>
    </message>
    <message>
        <source>正在等待设备重启，已等待%1秒（最长%2秒）</source>
        <translation>正在等待设备重启，已等待%1秒（最长%2秒）</translation>
    </message>
    <message>
        <source>正在等待设备的校验结果，已等待%1秒（最长%2秒）</source>
        <translation>正在等待设备的校验结果，已等待%1秒（最长%2秒）</translation>
    </message>
    <message>
        <source>设备已断开连接，正在等待设备重新连接，已等待%1秒（最长%2秒）</source>
        <translation>设备已断开连接，正在等待设备重新连接，已等待%1秒（最长%2秒）</translation>
    </message>
    <message>
        <source>正在等待设备重启后验证固件，已等待%1秒（最长%2秒）</source>
        <translation>正在等待设备重启后验证固件，已等待%1秒（最长%2秒）</translation>
    </message>
    <message>
        <source>设备在升级中断开连接，等待%1秒后仍未重新连接。</source>
        <translation>设备在升级中断开连接，等待%1秒后仍未重新连接。</translation>
    </message>
    <message>
        <source>设备升级状态已%1秒没有更新（最长%2秒）</source>
        <translation>设备升级状态已%1秒没有更新（最长%2秒）</translation>
    </message>
    <message>
        <source>升级超过了时间限制，已中止。</source>
        <translation>升级超过了时间限制，已中止。</translation>
    </message>
</context>
</TS>
