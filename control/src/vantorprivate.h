#pragma once

#include <halvik/vantorbase.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace halvik {

/// Command transactions over one device link: one request at a time, answered by the reply
/// with the same command code or ended by a time-out.
class VantorPrivate : public VantorBase
{
public:
    VantorPrivate(const std::string& address, std::uint16_t port);
    ~VantorPrivate() override;

    /// Runs one transaction. timeoutMs < 0: the default time-out; 0: no limit.
    int sendCommand(const std::string& command, std::int32_t timeoutMs);

    int Home();
    int SetApertureAngles(double azimuth, double elevation, double speed);
    int TrackApertureAngles(double azimuth, double elevation, double speed);
    int SetAcceleration(double acceleration);
    int GetApertureAngles(double& azimuth, double& elevation);

    /// Test seam: a transaction pending for command, as if it had just been sent.
    void beginTransactionForTest(const std::string& command);
    /// Test seam: true while a transaction is pending; status and payload it left.
    bool transactionStateForTest(int& status, std::string& payload);

    /// Time-out of Home and SetApertureAngles, ms.
    std::uint32_t motionTimeoutMs = 2500;

    /// Matches a reply against the pending command (receive thread; public for fuzzing).
    void handleMessage(LinkMessage message) override;

private:
    /// Runs one transaction; on success it returns with lock held, so the caller can read the
    /// reply's payload before another transaction starts.
    int transact(const std::string& command, std::int32_t timeoutMs,
                 std::unique_lock<std::mutex>& lock);
    int waitForReply(std::unique_lock<std::mutex>& lock, std::uint32_t timeoutMs);

    // The standard primitives: Boost's condition variable adds an internal mutex and an
    // interruption check to every wait and notify, which a round trip pays for in CPU.
    std::mutex transactionMutex;
    std::condition_variable replyArrived;
    /// Tested by the receive thread before it takes the lock.
    std::atomic<bool> awaitingReply{false};
    /// From a caller's send until that caller has taken its answer. The reply clears
    /// awaitingReply before the caller is awake again; without this a second caller could start
    /// a transaction in that gap, and the first would wait for and return the second's answer.
    bool transactionOpen = false;
    /// Full text of the current or last command.
    std::string pendingCommand;
    /// Payload of the last "ER" reply that ended a transaction.
    std::string replyPayload;
    int replyStatus = 0;
    /// The last reply came quickly with nothing else received meanwhile, so the next
    /// transaction watches for its reply before it blocks (caller's thread, under the lock).
    bool spinNext = true;
    /// Time-out for a negative timeoutMs, ms.
    std::uint32_t defaultTimeoutMs = 500;
};

} // namespace halvik
