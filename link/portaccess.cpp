#include "portaccess.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
const char UdevRule[] = TAVIO_UDEV_RULE_PATH;
const char UsualGroup[] = "dialout"; // Debian's group for serial ports, when the owner is unknown
const char DeniedText[] = QT_TRANSLATE_NOOP(
    "PortAccess", "没有权限打开串口%1。请安装本程序的udev规则%2后重新插拔设备，"
                  "或将当前用户加入该串口所属的组%3（sudo usermod -aG %3 $USER）后重新登录。");
} // namespace

PortAccess PortAccess::of(const QString &portName)
{
    PortAccess access;
    access.path = pathOf(portName);
    const QFileInfo file(access.path);
    access.exists = file.exists();
    access.readWrite = file.isReadable() && file.isWritable();
    access.group = file.group();
    return access;
}

QString PortAccess::pathOf(const QString &portName)
{
    return portName.contains(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
}

QString PortAccess::deniedText() const
{
    return QCoreApplication::translate("PortAccess", DeniedText)
        .arg(path, QString::fromLatin1(UdevRule), group.isEmpty() ? QString::fromLatin1(UsualGroup) : group);
}
