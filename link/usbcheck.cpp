#include "usbcheck.h"

#include "usbvirtualserial.h"

#include <QTimer>

UsbCheck::UsbCheck(UsbVirtualSerial *usb, QObject *parent)
    : QObject(parent)
    , m_usb(usb)
{
}

void UsbCheck::startDetection()
{
    if (m_timer)
        return;
    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &UsbCheck::checkDevice);
    m_timer->start(PollIntervalMs);
}

void UsbCheck::stopDetection()
{
    if (!m_timer)
        return;
    m_timer->stop();
    delete m_timer;
    m_timer = nullptr;
}

void UsbCheck::checkDevice()
{
    emit deviceDetected(m_usb->searchUsbDevice());
}
