#ifndef FIXEDPORTLISTER_H
#define FIXEDPORTLISTER_H

#include "serialportlister.h"

#include <QMutex>

// A port list that a test sets and changes at will; it counts the listings made.
class FixedPortLister : public SerialPortLister
{
public:
    explicit FixedPortLister(QList<SerialPortDescription> ports = {}) : m_ports(std::move(ports)) {}

    QList<SerialPortDescription> availablePorts() const override
    {
        QMutexLocker lock(&m_mutex);
        ++m_listings;
        return m_ports;
    }
    int listings() const
    {
        QMutexLocker lock(&m_mutex);
        return m_listings;
    }
    void setPorts(QList<SerialPortDescription> ports)
    {
        QMutexLocker lock(&m_mutex);
        m_ports = std::move(ports);
    }

private:
    mutable QMutex m_mutex;
    QList<SerialPortDescription> m_ports;
    mutable int m_listings = 0;
};

#endif // FIXEDPORTLISTER_H
