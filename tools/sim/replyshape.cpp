#include "replyshape.h"

#include <QRandomGenerator>

namespace ReplyShaping {

namespace {
constexpr quint32 MagicFirstByte = 0x4F;
constexpr quint32 ByteValues = 256;

// Cuts inside the magic, inside the header and inside the payload: the three
// places where a reader that assumes whole frames goes wrong.
constexpr int CutInsideMagic = 2;
constexpr int CutInsideHeader = 20;
} // namespace

QByteArray lineNoise(int bytes)
{
    QByteArray noise(qMax(0, bytes), Qt::Uninitialized);
    QRandomGenerator *random = QRandomGenerator::global();
    for (char &c : noise) {
        quint32 value = random->bounded(ByteValues - 1);
        if (value >= MagicFirstByte)
            ++value;
        c = char(value);
    }
    return noise;
}

QList<QByteArray> pieces(const QByteArray &frame, const ReplyShape &shape)
{
    const QByteArray noise = lineNoise(shape.garbageBytes);
    QByteArray bytes = noise + frame;
    if (shape.duplicate)
        bytes += bytes;
    if (!shape.split)
        return {bytes};

    const int start = noise.size();
    const int cuts[] = {start + CutInsideMagic, start + CutInsideHeader,
                        start + (CutInsideHeader + frame.size()) / 2};
    QList<QByteArray> result;
    int from = 0;
    for (int cut : cuts) {
        if (cut <= from || cut >= bytes.size())
            continue;
        result.append(bytes.mid(from, cut - from));
        from = cut;
    }
    result.append(bytes.mid(from));
    return result;
}

} // namespace ReplyShaping
