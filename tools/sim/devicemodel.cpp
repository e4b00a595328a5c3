#include "devicemodel.h"

#include "protocolframe.h"
#include "simstate.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <cstring>

namespace {
constexpr int Accepted = 0;
constexpr int Rejected = -1;
const char SdkVersion[] = "SIM_SDK_1.0.0";
const char DeviceName[] = "tavio-sim";
const char SelfRestartMode[] = "after-upgrade";

template <size_t N>
void copyText(char (&field)[N], const QByteArray &text)
{
    const int n = qMin(text.size(), int(N) - 1);
    std::memcpy(field, text.constData(), size_t(n));
    field[n] = '\0';
}

template <size_t N>
QByteArray fieldText(const char (&field)[N])
{
    return QByteArray(field, int(qstrnlen(field, N)));
}

QByteArray ackInfo(int status)
{
    ar_ack_info info{};
    info.status = status;
    return ProtocolFrame::recordBytes(info);
}

QByteArray deviceInfo(const DeviceIdentity &identity)
{
    ar_device_info info{};
    info.receiveMaxSize = identity.receiveMaxSize;
    info.cputemp = identity.cpuTemp;
    copyText(info.sdkversion, SdkVersion);
    copyText(info.devicename, DeviceName);
    copyText(info.firmwareInfo, identity.firmware);
    copyText(info.serialNumber, identity.serialNumber);
    copyText(info.hardwareVersion, identity.hardwareVersion);
    return ProtocolFrame::recordBytes(info);
}

// "…/Merlow_R_Sky_1_0_6.img" announces the firmware "Merlow_R_Sky_1_0_6"; a
// package's parts ("app.bin") announce none.
QByteArray announcedFirmware(const ar_file_info &announcement)
{
    static const QRegularExpression firmwareFile(QStringLiteral("^([A-Za-z0-9_]+(_\\d+)+)\\.img$"));
    const QString path = QString::fromUtf8(fieldText(announcement.filePath));
    const QRegularExpressionMatch match = firmwareFile.match(path.section(QLatin1Char('/'), -1));
    return match.hasMatch() ? match.captured(1).toUtf8() : QByteArray();
}
} // namespace

QByteArray DeviceModel::acceptance()
{
    return ackInfo(Accepted);
}

QByteArray DeviceModel::refusal()
{
    return ackInfo(Rejected);
}

DeviceModel::Reply DeviceModel::respond(const ReceivedFrame &request, SimState &state)
{
    const QByteArray &payload = request.payload;
    Reply reply;
    switch (request.header.command) {
    case AR_COMMAND_FIND_DEVICE:
        reply.payload = deviceInfo(state.identity);
        return reply;
    case AR_COMMAND_GET_ACTIVE: {
        const auto reboot = ProtocolFrame::readRecord<ar_device_reboot>(payload.constData(),
                                                                        payload.size());
        reply.reboot = state.script.rebootOnRequest();
        reply.rebootMode = QString::fromLatin1(fieldText(reboot.mode));
        break;
    }
    case AR_CMD_SENDFILE_START:
        m_announcement = ProtocolFrame::readRecord<ar_file_info>(payload.constData(),
                                                                 payload.size());
        m_data.clear();
        m_lastDataSeq.reset();
        break;
    case AR_CMD_SENDFILE_DATA:
        if (m_lastDataSeq != request.header.seq)
            m_data.append(payload);
        m_lastDataSeq = request.header.seq;
        break;
    case AR_CMD_SENDFILE_END:
        if (request.header.retry == 0 || m_lastEndSeq != request.header.seq)
            m_lastEndReply = finishFile(state);
        m_lastEndSeq = request.header.seq;
        reply.payload = m_lastEndReply;
        return reply;
    case AR_CMD_UPGRADE_STATUS:
        reply.payload = reportStatus(state, &reply);
        return reply;
    default:
        break;
    }
    reply.payload = acceptance();
    return reply;
}

void DeviceModel::powerCycle(SimState &state)
{
    m_announcement = ar_file_info{};
    m_data.clear();
    m_lastDataSeq.reset();
    m_lastEndSeq.reset();
    state.script.restartStatus();
    if (!m_announcedFirmware.isEmpty()
        && state.script.afterUpgrade() == SimScript::AfterUpgrade::RestartWithNewFirmware)
        state.identity.firmware = m_announcedFirmware;
    m_announcedFirmware.clear();
}

// A device that has reported its upgrade done restarts by itself, unless
// the script keeps it as it is.
QByteArray DeviceModel::reportStatus(SimState &state, Reply *reply)
{
    const SimScript::StatusStep step = state.script.nextStatus();
    if (step.second == STAT_DONE && state.script.afterUpgrade() != SimScript::AfterUpgrade::Stay) {
        reply->reboot = true;
        reply->rebootMode = QLatin1String(SelfRestartMode);
    }
    ar_upgrade_status status{};
    status.percent = step.first;
    status.status = step.second;
    return ProtocolFrame::recordBytes(status);
}

QByteArray DeviceModel::finishFile(SimState &state)
{
    const QByteArray md5 = QCryptographicHash::hash(m_data, QCryptographicHash::Md5).toHex();
    const bool intact = m_data.size() == m_announcement.length
        && md5 == fieldText(m_announcement.MD5);
    const std::optional<int> scripted = state.script.takeVerdict();
    const int verdict = scripted.value_or(intact ? Accepted : Rejected);
    state.files.append({m_announcement, m_data, verdict});
    if (verdict == Accepted) {
        m_announcedFirmware = announcedFirmware(m_announcement);
        if (m_announcedFirmware.isEmpty()) // a package's part
            m_announcedFirmware = state.script.packageFirmware();
    }
    state.script.restartStatus();

    ar_receive_date_info info{};
    info.length = m_announcement.length;
    info.cursize = m_data.size();
    info.totalsize = m_announcement.length;
    info.status = verdict;
    return ProtocolFrame::recordBytes(info);
}
