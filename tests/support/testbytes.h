#ifndef TESTBYTES_H
#define TESTBYTES_H

#include <QByteArray>

namespace TestBytes {

// Bytes that differ with the seed and along the data without repeating every
// 256 bytes, so data cut at a wrong offset or copied out of order cannot pass.
inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + i / 251 + seed * 13);
    return out;
}

} // namespace TestBytes

#endif // TESTBYTES_H
