#pragma once

#include <halvik/vantorbase.h>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include <atomic>
#include <cstdint>
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
    int waitForReply(boost::unique_lock<boost::mutex>& lock, std::uint32_t timeoutMs);

    boost::mutex transactionMutex;
    boost::condition_variable replyArrived;
    /// Tested by the receive thread before it takes the lock.
    std::atomic<bool> awaitingReply{false};
    /// Full text of the current or last command.
    std::string pendingCommand;
    /// Payload of the last "ER" reply that ended a transaction.
    std::string replyPayload;
    int replyStatus = 0;
    /// Time-out for a negative timeoutMs, ms.
    std::uint32_t defaultTimeoutMs = 500;
};

} // namespace halvik
