#ifndef LINKMODEL_H
#define LINKMODEL_H

#include <QtGlobal>
#include <chrono>

// The USB link between the program and the device, each way alike: bytes go
// out one after another at `bytesPerSecond` and arrive `oneWayLatencyUs`
// after their last byte went out. A pty has neither; a real device has both.
struct LinkModel
{
    int oneWayLatencyUs = 0;
    qint64 bytesPerSecond = 0; // 0: no limit

    // Bytes pass at once, as over the bare pty.
    static LinkModel none() { return LinkModel(); }
    // A CDC device on a full-speed port: 1 ms round trip, 1 MB/s each way.
    static LinkModel fullSpeed() { return {500, 1000000}; }
    // On a high-speed port: 0.25 ms round trip, 30 MB/s each way.
    static LinkModel highSpeed() { return {125, 30000000}; }

    bool isNone() const { return oneWayLatencyUs <= 0 && bytesPerSecond <= 0; }
    std::chrono::nanoseconds latency() const { return std::chrono::microseconds(oneWayLatencyUs); }
    // The time `bytes` take to go out at the link's rate.
    std::chrono::nanoseconds serialisation(qint64 bytes) const
    {
        constexpr qint64 NsPerSecond = 1000000000;
        return std::chrono::nanoseconds(bytesPerSecond > 0 ? bytes * NsPerSecond / bytesPerSecond : 0);
    }
};

#endif // LINKMODEL_H
