#ifndef PTYCHANNEL_H
#define PTYCHANNEL_H

#include "pseudoterminal.h"

#include <QByteArray>
#include <QObject>
#include <memory>

class QSocketNotifier;

// The device's end of the serial line: reads what the program writes and
// writes replies without blocking, holding back what the pty cannot take yet.
// Lives in the simulator thread; the pty may be opened and closed many times.
class PtyChannel : public QObject
{
    Q_OBJECT

public:
    explicit PtyChannel(QObject *parent = nullptr);
    ~PtyChannel() override;

    bool open(QString *error);
    // Drops anything not yet written.
    void close();

    bool isOpen() const { return m_pty.isOpen(); }
    QString slavePath() const { return m_pty.slavePath(); }

    void write(const QByteArray &bytes);
    // True once every written byte has been read by the program.
    bool isDrained() const;

signals:
    void received(const QByteArray &bytes);

private:
    void readAvailable();
    void flush();

    PseudoTerminal m_pty;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    QByteArray m_pending;
};

#endif // PTYCHANNEL_H
