#ifndef DEVICEIDENTITYSTORE_H
#define DEVICEIDENTITYSTORE_H

#include <QMutex>
#include <QString>
#include <array>
#include <atomic>

// A fixed-width text field of a record, up to its first NUL.
inline QString fixedFieldText(const char *field, int size)
{
    return QString::fromUtf8(field, int(qstrnlen(field, uint(size))));
}

template <std::size_t N>
QString fixedFieldText(const std::array<char, N> &field)
{
    return fixedFieldText(field.data(), int(N));
}

// What the device said about itself in its last device-information reply.
struct DeviceIdentityInfo
{
    static constexpr int NoTemperature = -100;

    std::array<char, 64> firmware{};
    std::array<char, 32> serial{};
    std::array<char, 32> hardware{};
    int cpuTemp = NoTemperature;
};

// The device identity, written by the receive path and read by the page,
// copied whole under a lock. The segment length and the "reply stored" flag
// are single words beside it: the flag is cleared by its reader, and neither
// is forgotten with the identity.
class DeviceIdentityStore
{
public:
    // Keeps `info` and logs what it keeps.
    void store(const DeviceIdentityInfo &info);
    DeviceIdentityInfo info() const;
    void forget();

    int maxSegment() const { return m_maxSegment.load(); }
    void setMaxSegment(int bytes) { m_maxSegment.store(bytes); }
    bool replyStored() const { return m_replyStored.load(); }
    void setReplyStored(bool stored) { m_replyStored.store(stored); }

private:
    mutable QMutex m_mutex;
    DeviceIdentityInfo m_info;
    std::atomic<int> m_maxSegment{0};
    std::atomic<bool> m_replyStored{false};
};

#endif // DEVICEIDENTITYSTORE_H
