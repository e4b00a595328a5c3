#ifndef REPLYMAILBOX_H
#define REPLYMAILBOX_H

#include "devicelink.h"
#include "upgradeclock.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>
#include <atomic>
#include <functional>
#include <memory>

// What the device sends that a sequence waits for, taken from the link's
// thread as it arrives: the segment length, the reboot notice, the file's
// verdict and the status reports. It also holds the sequence's run flag and
// its waits: every wait ends on a reply, on the run flag going false or at
// its limit (program time), never on a poll.
class ReplyMailbox : public DeviceLink::Replies
{
public:
    static constexpr int NoVerdict = -2;
    static constexpr int DefaultSegmentLength = 1024;

    // Receives `link`'s replies from now until it is destroyed.
    ReplyMailbox(DeviceLink &link, std::shared_ptr<const UpgradeClock> clock);
    ~ReplyMailbox();

    ReplyMailbox(const ReplyMailbox &) = delete;
    ReplyMailbox &operator=(const ReplyMailbox &) = delete;

    const UpgradeClock &clock() const { return *m_clock; }

    // The run flag. Cleared, it ends every wait at once, a request's too.
    void setRun(bool run);
    bool running() const { return m_run.load(); }
    // A request's Proceed: it goes on while the run flag holds.
    const DeviceLink::Proceed &proceed() const { return m_proceed; }
    // Waits up to `programMs` until `ready` holds (true) or the run flag is cleared.
    bool waitFor(const std::function<bool()> &ready, int programMs);
    // The same for an answer of the device: a round trip that takes real
    // time however fast the clock runs (UpgradeClock::replyWaitMs).
    bool waitForAnswer(const std::function<bool()> &ready, int programMs);
    void pause(int programMs);

    // Status reports count only while an upgrade is open for them: one that
    // comes unasked, or after the device said it is done, is logged and dropped.
    void acceptStatus(bool accept);
    // A new file or part: no status, reboot notice or verdict of the last one.
    void startFile();

    ar_upgrade_status latestStatus() const;
    // A failure status the device sent on its own: it ended the sequence.
    bool failureReported(ar_upgrade_status *status) const;
    int segmentLength() const { return m_segLength.load(); }
    bool rebootNoticed() const { return m_rebootConfirmed.load(); }
    void clearRebootConfirmation() { m_rebootConfirmed.store(false); }
    // The verdict must answer the end of file sent after this.
    void expectVerdict() { m_verdict.store(NoVerdict); }
    int verdict() const { return m_verdict.load(); }

    // The link's replies, on its thread.
    void statusReport(const ar_upgrade_status &status) override;
    void segmentLength(int length) override;
    void rebootConfirmed() override;
    void fileVerdict(int verdict) override;

private:
    bool waitUntil(const std::function<bool()> &ready, QDeadlineTimer deadline);

    void wake();

    DeviceLink &m_link;
    std::shared_ptr<const UpgradeClock> m_clock;
    std::atomic<bool> m_run{false};
    const DeviceLink::Proceed m_proceed = [this] { return m_run.load(); };
    QMutex m_wakeMutex;
    QWaitCondition m_wakeUp;

    mutable QMutex m_statusMutex; // hands the status records between threads whole
    ar_upgrade_status m_status{};
    ar_upgrade_status m_failure{};
    bool m_failureReported = false;
    bool m_acceptsStatus = false;
    std::atomic<int> m_segLength{DefaultSegmentLength};
    std::atomic<bool> m_rebootConfirmed{false};
    std::atomic<int> m_verdict{NoVerdict};
};

#endif // REPLYMAILBOX_H
