#pragma once

#include <halvik/discoverylistener.h>
#include <halvik/vantorbase.h>
#include <halvik/vantormap.h>

#include <boost/asio/steady_timer.hpp>
#include <boost/shared_ptr.hpp>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace halvik {

namespace detail {
/// What the receive thread shares with callers. A base constructed before the link, so that it
/// is complete before the link's receive thread starts and can hand over a datagram.
struct DiscoveryState
{
    std::mutex stateMutex;
    std::condition_variable operationDone;
    VantorMap vantors;
    bool operationPending = false;
    bool continuousDiscovery = false;
    int operationStatus = 0;
    /// Not owned; null whenever no discovery is pending.
    DiscoveryListener* listener = nullptr;
    /// Number of the pending (or last) operation. A timer handler acts only for the operation
    /// that armed it: cancel() cannot stop a handler whose timer had already expired.
    std::uint64_t operationGeneration = 0;
};
} // namespace detail

/// Discovery and IP change over one broadcast link. At most one operation (timed discovery,
/// continuous discovery or IP change) is pending at a time:
///
///            FindVantors(t > 0)                 FindVantors(0, non-blocking)
///   Timed <---------------------- Idle ----------------------------> Continuous
///     |   time-out or SIPC answer ^  ^ ^         SIPC answer            |
///     +---------------------------+  | +--------------------------------+
///                                    | answer or time-out
///                      SetVantorIP   v
///                                IP change
///
/// Every field of the state and both timers are guarded by stateMutex. FindVantors and SetVantorIP
/// only try the lock and answer busy, so a caller never queues behind the receive thread; the
/// other calls and the receive thread's handlers wait for it.
class VantorManagerPrivate : private detail::DiscoveryState, public VantorBase
{
public:
    /// Opens the link to 255.255.255.255:4365.
    VantorManagerPrivate();
    /// Opens the link to another broadcast address and port.
    VantorManagerPrivate(const std::string& broadcastAddress, std::uint16_t port);
    ~VantorManagerPrivate() override;

    /// Starts a discovery; see VantorManager::FindVantors.
    int FindVantors(unsigned int timeoutMs, bool blocking, DiscoveryListener* listener);
    /// Forgets every device heard so far.
    void ClearVantors();
    /// A copy of the devices heard so far.
    VantorMap GetVantors();
    /// Asks the device with this serial to take newAddress; see VantorManager::SetVantorIP.
    int SetVantorIP(std::string serial, std::string newAddress);

    /// True for four-part dotted IPv4 text that the platform converts.
    static bool isValidAddress(const std::string& text);

    /// Length of the IP change's wait for a deciding answer.
    static constexpr unsigned int setIpTimeoutMs = 1000;
    /// Interval of the repeated query while a discovery is pending.
    static constexpr unsigned int requeryIntervalMs = 1000;

    /// Test seam: an IP change pending, as if its request had just gone out (no timer armed).
    void beginOperationForTest();
    /// Test seam: true while an operation is pending; status the last one ended with.
    bool operationStateForTest(int& status);

protected:
    void handleMessage(LinkMessage message) override;

private:
    using Lock = std::unique_lock<std::mutex>;

    void onRequeryTick(const boost::system::error_code& error, std::uint64_t generation);
    void onOperationTimeout(const boost::system::error_code& error, std::uint64_t generation);
    /// Waits, with the lock held by the caller, until operation `generation` has ended.
    int waitForOperation(Lock& lock, std::uint64_t generation);

    // The helpers below expect stateMutex to be held.
    bool isCurrent(std::uint64_t generation) const;
    void armRequery(std::uint64_t generation);
    void endOperation(int status);
    void notifyListener();

    boost::shared_ptr<boost::asio::steady_timer> operationTimer;
    boost::shared_ptr<boost::asio::steady_timer> requeryTimer;
};

} // namespace halvik
