#include "devicesimulator.h"

#include "simengine.h"

#include <QMetaObject>
#include <QMutexLocker>

DeviceSimulator::DeviceSimulator(const DeviceIdentity &identity, QObject *parent)
    : QObject(parent)
    , m_engine(new SimEngine(&m_state))
{
    qRegisterMetaType<SimFrameRecord>();
    m_state.identity = identity;
    m_thread.setObjectName(QStringLiteral("device simulator"));
    m_engine->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_engine, &QObject::deleteLater);
    // Emitted on the simulator's thread before the frame is answered, so a
    // direct receiver can act at an exact point of the exchange.
    connect(m_engine, &SimEngine::frameReceived, this, &DeviceSimulator::frameReceived,
            Qt::DirectConnection);
    connect(m_engine, &SimEngine::wroteToProgram, this, &DeviceSimulator::wroteToProgram, Qt::DirectConnection);
    connect(m_engine, &SimEngine::readFromProgram, this, &DeviceSimulator::readFromProgram, Qt::DirectConnection);
    connect(m_engine, &SimEngine::linkLate, this, &DeviceSimulator::linkLate, Qt::DirectConnection);
    connect(m_engine, &SimEngine::rebooting, this, &DeviceSimulator::rebooting);
    connect(m_engine, &SimEngine::appeared, this, &DeviceSimulator::appeared);
    connect(m_engine, &SimEngine::vanished, this, &DeviceSimulator::vanished);
    connect(m_engine, &SimEngine::rebooted, this, &DeviceSimulator::rebooted);
    m_thread.start();
}

DeviceSimulator::~DeviceSimulator()
{
    // The engine is deleted in its own thread before wait() returns; its
    // members close the pty and remove the link.
    m_thread.quit();
    m_thread.wait();
}

template <typename Work>
void DeviceSimulator::inEngine(Work work)
{
    QMetaObject::invokeMethod(m_engine, work, Qt::BlockingQueuedConnection);
}

template <typename Change>
void DeviceSimulator::changeScript(Change change)
{
    QMutexLocker lock(&m_state.mutex);
    change(m_state.script);
}

bool DeviceSimulator::start(const QString &linkPath)
{
    QString error;
    bool ok = false;
    inEngine([&] { ok = m_engine->open(linkPath, &error); });
    QMutexLocker lock(&m_state.mutex);
    m_error = error;
    return ok;
}

QString DeviceSimulator::errorString() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_error;
}

QString DeviceSimulator::slavePath() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.slavePath;
}

QString DeviceSimulator::linkPath() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.linkPath;
}

bool DeviceSimulator::isPresent() const
{
    return !slavePath().isEmpty();
}

DeviceIdentity DeviceSimulator::identity() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.identity;
}

void DeviceSimulator::setIdentity(const DeviceIdentity &identity)
{
    QMutexLocker lock(&m_state.mutex);
    m_state.identity = identity;
}

void DeviceSimulator::setSilent(bool silent, quint32 command)
{
    changeScript([&](SimScript &script) { script.setSilent(silent, command); });
}

void DeviceSimulator::setReplyDelay(int ms)
{
    changeScript([&](SimScript &script) { script.shape().delayMs = qMax(0, ms); });
}

void DeviceSimulator::refuseNext(int count, quint32 command)
{
    changeScript([&](SimScript &script) { script.refuseNext(count, command); });
}

void DeviceSimulator::dropNextAcks(int count, quint32 command)
{
    changeScript([&](SimScript &script) { script.dropNext(count, command); });
}

void DeviceSimulator::setGarbageBeforeReplies(int bytes)
{
    changeScript([&](SimScript &script) { script.shape().garbageBytes = qMax(0, bytes); });
}

void DeviceSimulator::setSplitReplies(bool split)
{
    changeScript([&](SimScript &script) { script.shape().split = split; });
}

void DeviceSimulator::setDuplicateReplies(bool duplicate)
{
    changeScript([&](SimScript &script) { script.shape().duplicate = duplicate; });
}

void DeviceSimulator::setAckSeqOffset(int offset)
{
    changeScript([&](SimScript &script) { script.shape().seqOffset = offset; });
}

void DeviceSimulator::corruptNextReplyLengths(int count)
{
    changeScript([&](SimScript &script) { script.shape().corruptLengths = qMax(0, count); });
}

void DeviceSimulator::setVerdicts(const QList<int> &verdicts)
{
    changeScript([&](SimScript &script) { script.setVerdicts(verdicts); });
}

void DeviceSimulator::setStatusScript(const QList<SimScript::StatusStep> &steps)
{
    changeScript([&](SimScript &script) { script.setStatusScript(steps); });
}

void DeviceSimulator::setRebootDelay(int ms)
{
    changeScript([&](SimScript &script) { script.setRebootDelayMs(ms); });
}

void DeviceSimulator::setRebootOnRequest(bool reboot)
{
    changeScript([&](SimScript &script) { script.setRebootOnRequest(reboot); });
}

void DeviceSimulator::setAfterUpgrade(SimScript::AfterUpgrade after)
{
    changeScript([&](SimScript &script) { script.setAfterUpgrade(after); });
}

void DeviceSimulator::setPackageFirmware(const QByteArray &firmware)
{
    changeScript([&](SimScript &script) { script.setPackageFirmware(firmware); });
}

void DeviceSimulator::setLinkModel(const LinkModel &model)
{
    inEngine([&] { m_engine->setLinkModel(model); });
}

void DeviceSimulator::vanish()
{
    inEngine([this] { m_engine->vanish(); });
}

void DeviceSimulator::reappear()
{
    inEngine([this] { m_engine->reappear(); });
}

QList<SimFrameRecord> DeviceSimulator::frames() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.frames;
}

void DeviceSimulator::clearFrames()
{
    QMutexLocker lock(&m_state.mutex);
    m_state.frames.clear();
}

QList<SimReceivedFile> DeviceSimulator::receivedFiles() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.files;
}

QStringList DeviceSimulator::rebootModes() const
{
    QMutexLocker lock(&m_state.mutex);
    return m_state.rebootModes;
}

int DeviceSimulator::rebootCount() const
{
    return rebootModes().size();
}
