#include "deviceidentitystore.h"

#include "logging.h"

void DeviceIdentityStore::store(const DeviceIdentityInfo &info)
{
    QMutexLocker lock(&m_mutex);
    m_info = info;
    LOG_INFO << "set" << "m_cputemp " << m_info.cpuTemp << "m_firmwareInfo" << fixedFieldText(m_info.firmware)
             << "m_serialNumber" << fixedFieldText(m_info.serial) << "m_hardwareVersion"
             << fixedFieldText(m_info.hardware);
}

DeviceIdentityInfo DeviceIdentityStore::info() const
{
    QMutexLocker lock(&m_mutex);
    return m_info;
}

void DeviceIdentityStore::forget()
{
    QMutexLocker lock(&m_mutex);
    m_info = DeviceIdentityInfo();
}
