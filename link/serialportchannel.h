#ifndef SERIALPORTCHANNEL_H
#define SERIALPORTCHANNEL_H

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

class QSerialPort;

// The serial port, confined to the link's thread: every call except
// waitUntilWritten() must be made on the thread the channel lives on.
// A port that reports an I/O error (a vanished pty or an unplugged device
// reports a read error and would keep signalling it) is closed at once and
// reported once through portLost().
class SerialPortChannel : public QObject
{
    Q_OBJECT

public:
    explicit SerialPortChannel(QObject *parent = nullptr);
    ~SerialPortChannel() override;

    // Replaces the port object with a new one for `portName` (115200 8N1, no
    // flow control) and opens it for reading and writing.
    bool open(const QString &portName);
    // Discards both buffers and closes the port; a closed port is left alone.
    void close();

    bool exists() const { return m_port != nullptr; }
    bool isOpen() const;
    bool isWritable() const;
    QString portName() const;
    // What went wrong, in English whatever the language (Qt's own texts are
    // translated): the port's error by name and number.
    QString errorText() const;

    // Queues bytes for writing. Returns the number accepted, or -1 on error.
    // `*writeMark` is what waitUntilWritten() waits for.
    qint64 write(const QByteArray &bytes, quint64 *writeMark);
    QByteArray readAll();
    qint64 bytesAvailable() const;

    // Any thread: waits until everything up to `writeMark` has gone to the
    // device. False on timeout, or when the port closed before.
    bool waitUntilWritten(quint64 writeMark, int timeoutMs);

signals:
    void readyRead();
    void portLost(const QString &portName, const QString &error);
    // The port passed more of the written bytes to the device.
    void written();

private:
    void onBytesWritten();
    void updateWritten(); // with m_writeMutex held
    void onError(int error);
    void abandonPendingWrites();

    QSerialPort *m_port = nullptr;

    QMutex m_writeMutex;          // guards the counters below
    QWaitCondition m_writeProgress;
    quint64 m_queued = 0;         // bytes accepted by write() so far
    quint64 m_written = 0;        // bytes the port has passed to the device
    quint64 m_abandoned = 0;      // writes up to here are settled: a close dropped the rest
    quint64 m_writtenBeforeAbandon = 0;
};

#endif // SERIALPORTCHANNEL_H
