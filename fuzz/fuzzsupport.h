#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QByteArray>
#include <QLoggingCategory>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken expectation is a finding: report it and abort, so that libFuzzer
// saves the input that caused it.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);   \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)

namespace FuzzSupport {

// The code under test logs every step: with every level off its lines are
// not even formatted, which keeps the targets fast and their output readable;
// anything logged regardless is dropped.
inline void silenceQtMessages()
{
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// Reads the fuzzer's input front to back; an exhausted input reads as zero.
class InputReader
{
public:
    InputReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    uint8_t takeByte() { return m_position < m_size ? m_data[m_position++] : 0; }
    // Up to `count` bytes.
    QByteArray take(size_t count)
    {
        const size_t n = qMin(count, m_size - m_position);
        m_position += n;
        return QByteArray(reinterpret_cast<const char *>(m_data + m_position - n), int(n));
    }
    QByteArray rest() { return take(m_size - m_position); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_position = 0;
};

} // namespace FuzzSupport

#endif // FUZZSUPPORT_H
