<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="zh_CN">
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
</context>
<context>
    <name>UpgradeProcess</name>
    <message>
        <source>升级错误：未知错误！请重启设备再次升级！</source>
        <translation>升级错误：未知错误！</translation>
    </message>
</context>
</TS>
