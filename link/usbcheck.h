#ifndef USBCHECK_H
#define USBCHECK_H

#include <QObject>

class QTimer;
class UsbVirtualSerial;

// Reports the vendor identifier of the attached device (0 when none) every
// 100 ms, from whatever thread it has been moved to.
class UsbCheck : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 100;

    explicit UsbCheck(UsbVirtualSerial *usb, QObject *parent = nullptr);

public slots:
    void startDetection();
    void stopDetection();
    void checkDevice();

signals:
    void deviceDetected(quint16 vid);

private:
    UsbVirtualSerial *m_usb;
    QTimer *m_timer = nullptr;
};

#endif // USBCHECK_H
