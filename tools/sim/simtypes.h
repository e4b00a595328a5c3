#ifndef SIMTYPES_H
#define SIMTYPES_H

#include "ARNetType.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

// Fault settings limited to one command take this to mean "every command".
// Zero is safe: no request ever carries command 0 (it is the refusal reply).
constexpr quint32 AnyCommand = 0;

// What the simulated device says about itself.
struct DeviceIdentity
{
    quint16 vendorId = AR_FPV_BOARD_TYPE_GT_SKY;
    QString manufacturer;
    int receiveMaxSize = 1024;
    int cpuTemp = 45;
    QByteArray firmware = "Merlow_R_Sky_1_0_5";
    QByteArray serialNumber = "SN0001";
    QByteArray hardwareVersion = "HW_V1.0";
};

// One frame as the device received it, answered or not.
struct SimFrameRecord
{
    quint16 type = 0;
    quint32 command = 0;
    quint32 seq = 0;
    quint32 retry = 0;
    quint32 length = 0;
    QByteArray payload;
    bool crcValid = false;
};

// One file transfer closed by a file-end request, with the verdict sent back.
struct SimReceivedFile
{
    ar_file_info announcement{};
    QByteArray data;
    int verdict = 0;
};

Q_DECLARE_METATYPE(SimFrameRecord)

#endif // SIMTYPES_H
