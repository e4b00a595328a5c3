// The simulator's model of the USB link: each direction holds bytes back by
// its latency and their time on the wire, a piece behind the one before it,
// and without a model passes them on at once. Only lower bounds on the delays
// are checked: a busy machine can only make them longer.

#include "delayline.h"
#include "logcapture.h"
#include "simoptions.h"
#include "simulateddevice.h"
#include "testbytes.h"

#include <QMutex>
#include <QtTest>
#include <chrono>

Q_DECLARE_METATYPE(LinkModel)

namespace {
using Clock = std::chrono::steady_clock;
using Us = std::chrono::microseconds;
constexpr int DeliveryWaitMs = 10000;
} // namespace

class TestLinkModel : public QObject
{
    Q_OBJECT

private slots:
    void delayLine_data()
    {
        QTest::addColumn<LinkModel>("model");
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<QList<int>>("leastDelaysUs"); // from the first push
        QTest::newRow("none: at once") << LinkModel::none() << QList<int>{36, 1060} << QList<int>{0, 0};
        QTest::newRow("latency alone") << LinkModel{3000, 0} << QList<int>{36, 1060} << QList<int>{3000, 3000};
        QTest::newRow("rate alone: each waits its turn")
            << LinkModel{0, 1000000} << QList<int>{1000, 3000, 36} << QList<int>{1000, 4000, 4036};
        QTest::newRow("full speed") << LinkModel::fullSpeed() << QList<int>{1060, 36}
                                    << QList<int>{1560, 1596};
        QTest::newRow("high speed, 64 KiB") << LinkModel::highSpeed() << QList<int>{65536 + 36, 36}
                                            << QList<int>{125 + 2185, 125 + 2186};
    }

    // Pieces come out in order, each no earlier than the latency after the
    // wire has carried it and everything pushed before it.
    void delayLine()
    {
        QFETCH(LinkModel, model);
        QFETCH(QList<int>, sizes);
        QFETCH(QList<int>, leastDelaysUs);
        QMutex mutex;
        QList<QByteArray> delivered;
        QList<Clock::time_point> times;
        DelayLine line(model, [&](const QByteArray &bytes, DelayLine::Clock::time_point) {
            QMutexLocker lock(&mutex);
            delivered.append(bytes);
            times.append(Clock::now());
        });
        QList<QByteArray> pushed;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < sizes.size(); ++i) {
            pushed.append(TestBytes::pattern(sizes[i], i));
            line.push(pushed.last());
        }
        if (model.isNone()) {
            QCOMPARE(delivered, pushed); // before push returned
            return;
        }
        const auto all = [&] { QMutexLocker lock(&mutex); return delivered.size() == pushed.size(); };
        QTRY_VERIFY_WITH_TIMEOUT(all(), DeliveryWaitMs);
        QCOMPARE(delivered, pushed);
        for (int i = 0; i < times.size(); ++i) {
            const auto delay = std::chrono::duration_cast<Us>(times[i] - start).count();
            QVERIFY2(delay >= leastDelaysUs[i], qPrintable(QStringLiteral("piece %1 after %2 us").arg(i).arg(delay)));
        }
    }

    // What was pushed before a clear never comes out; what follows it does.
    void delayLine_clearDrops()
    {
        QMutex mutex;
        QList<QByteArray> delivered;
        DelayLine line({0, 1000}, [&](const QByteArray &bytes, DelayLine::Clock::time_point) { // a second per 1000 bytes
            QMutexLocker lock(&mutex);
            delivered.append(bytes);
        });
        line.push(QByteArray(1000, 'a'));
        line.clear();
        line.push("b");
        const auto count = [&] { QMutexLocker lock(&mutex); return delivered.size(); };
        QTRY_VERIFY_WITH_TIMEOUT(count() > 0, DeliveryWaitMs);
        QMutexLocker lock(&mutex);
        QCOMPARE(delivered, QList<QByteArray>{"b"});
    }

    void simulator_data()
    {
        QTest::addColumn<LinkModel>("model");
        QTest::addColumn<int>("payload");
        QTest::addColumn<int>("leastRoundTripUs");
        // One way delayed only would take half.
        QTest::newRow("latency, both ways") << LinkModel{10000, 0} << 0 << 20000;
        // 36 bytes there and 36 back at 10 kB/s.
        QTest::newRow("rate, both ways") << LinkModel{0, 10000} << 0 << 7200;
    }

    // A request through the program's link waits for the model both ways;
    // the device sees it, and the program its answer, only then.
    void simulator()
    {
        QFETCH(LinkModel, model);
        QFETCH(int, payload);
        QFETCH(int, leastRoundTripUs);
        LogCapture log; // the link's own log lines
        SimulatedDevice device;
        QVERIFY(device.start());
        device.sim.setLinkModel(model);
        QVERIFY(device.open());
        QByteArray bytes = TestBytes::pattern(payload);
        constexpr unsigned AnswerWaitMs = 10000;
        const Clock::time_point start = Clock::now();
        QCOMPARE(device.link->commandSerialSend(AR_CMD_SENDFILE_DATA, AR_MSGTYPE_REQUEST, AR_FMT_BINARY, 0,
                                                bytes.data(), unsigned(bytes.size()), 1, AnswerWaitMs),
                 0);
        const auto roundTrip = std::chrono::duration_cast<Us>(Clock::now() - start).count();
        QVERIFY2(roundTrip >= leastRoundTripUs, qPrintable(QStringLiteral("%1 us").arg(roundTrip)));
        QCOMPARE(device.framesOf(AR_CMD_SENDFILE_DATA).size(), 1);
        QCOMPARE(device.framesOf(AR_CMD_SENDFILE_DATA).first().payload, bytes);
    }
};

QTEST_MAIN(TestLinkModel)
#include "tst_linkmodel.moc"
