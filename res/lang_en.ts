<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="zh_CN">
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
</context>
<context>
    <name>UpgradeProcess</name>
    <message>
        <source>升级错误：未知错误！请重启设备再次升级！</source>
        <translation>Upgrade error: Unknown error!</translation>
    </message>
</context>
</TS>
