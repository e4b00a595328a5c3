#include "serialportchannel.h"

#include "logging.h"

#include <QDeadlineTimer>
#include <QMetaEnum>
#include <QSerialPort>

namespace {
constexpr qint32 BaudRate = 115200;
} // namespace

SerialPortChannel::SerialPortChannel(QObject *parent)
    : QObject(parent)
{
}

SerialPortChannel::~SerialPortChannel()
{
    close();
}

bool SerialPortChannel::open(const QString &portName)
{
    abandonPendingWrites();
    delete m_port; // safe: no other thread ever touches the port object
    m_port = new QSerialPort(this);
    m_port->setPortName(portName);
    m_port->setBaudRate(BaudRate, QSerialPort::AllDirections);
    m_port->setDataBits(QSerialPort::Data8);
    m_port->setParity(QSerialPort::NoParity);
    m_port->setStopBits(QSerialPort::OneStop);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortChannel::readyRead);
    connect(m_port, &QSerialPort::bytesWritten, this, &SerialPortChannel::onBytesWritten);
    connect(m_port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onError(int(error)); });
    return m_port->open(QIODevice::ReadWrite);
}

void SerialPortChannel::close()
{
    if (m_port && m_port->isOpen()) {
        m_port->clear(QSerialPort::AllDirections);
        m_port->close();
    }
    abandonPendingWrites();
}

bool SerialPortChannel::isOpen() const
{
    return m_port && m_port->isOpen();
}

bool SerialPortChannel::isWritable() const
{
    return m_port && m_port->isWritable();
}

QString SerialPortChannel::portName() const
{
    return m_port ? m_port->portName() : QString();
}

QString SerialPortChannel::errorText() const
{
    if (!m_port)
        return QStringLiteral("no serial port");
    if (!m_port->isOpen())
        return QStringLiteral("the port is not open");
    const QSerialPort::SerialPortError error = m_port->error();
    const char *name = QMetaEnum::fromType<QSerialPort::SerialPortError>().valueToKey(error);
    return QStringLiteral("%1 (%2)").arg(QLatin1String(name ? name : "SerialPortError")).arg(int(error));
}

qint64 SerialPortChannel::write(const QByteArray &bytes, quint64 *writeMark)
{
    if (!isOpen())
        return -1;
    const qint64 accepted = m_port->write(bytes);
    {
        // Counted before the flush: a flush that finds the port gone abandons
        // these bytes with the rest, so nobody waits for them.
        QMutexLocker lock(&m_writeMutex);
        if (accepted > 0)
            m_queued += quint64(accepted);
        *writeMark = m_queued;
    }
    // Hand the bytes to the device now rather than on the next pass of the
    // event loop: a request then waits only for its acknowledgement. When the
    // device took them all, a second flush settles the write at once instead
    // of leaving the port to watch for room it no longer needs.
    m_port->flush();
    if (isOpen() && m_port->bytesToWrite() == 0)
        m_port->flush();
    QMutexLocker lock(&m_writeMutex);
    updateWritten();
    return accepted;
}

QByteArray SerialPortChannel::readAll()
{
    return isOpen() ? m_port->readAll() : QByteArray();
}

qint64 SerialPortChannel::bytesAvailable() const
{
    return isOpen() ? m_port->bytesAvailable() : 0;
}

bool SerialPortChannel::waitUntilWritten(quint64 writeMark, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker lock(&m_writeMutex);
    for (;;) {
        if (writeMark <= m_abandoned)
            return writeMark <= m_writtenBeforeAbandon;
        if (m_written >= writeMark)
            return true;
        if (!m_writeProgress.wait(&m_writeMutex, deadline))
            return m_written >= writeMark;
    }
}

void SerialPortChannel::onBytesWritten()
{
    {
        QMutexLocker lock(&m_writeMutex);
        updateWritten();
    }
    emit written();
}

// What the port no longer holds has gone to the device. The port announces
// that only on its next pass of the event loop; counting it as soon as the
// write returns spares the sender a wait for that pass.
void SerialPortChannel::updateWritten()
{
    const quint64 written = m_queued - quint64(qMax<qint64>(0, m_port->bytesToWrite()));
    if (written <= m_written)
        return;
    m_written = written;
    m_writeProgress.wakeAll();
}

void SerialPortChannel::onError(int error)
{
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
    case QSerialPort::NotOpenError:
    case QSerialPort::OpenError:
    case QSerialPort::DeviceNotFoundError:
    case QSerialPort::PermissionError:
        return; // failures of an open or of a call on a closed port, reported by the caller
    default:
        break;
    }
    if (!isOpen())
        return;
    const QString name = m_port->portName();
    const QString text = errorText();
    LOG_WARNING << "serial port lost:" << name << text;
    m_port->close();
    abandonPendingWrites();
    emit portLost(name, text);
}

void SerialPortChannel::abandonPendingWrites()
{
    QMutexLocker lock(&m_writeMutex);
    m_writtenBeforeAbandon = m_written;
    m_abandoned = m_queued;
    m_written = m_queued; // a new port counts its writes from here
    m_writeProgress.wakeAll();
}
