#include "vantorprivate.h"

#include "commandcodec.h"

#include <halvik/statuscode.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace halvik {

namespace {

// Waking a thread that sleeps in the kernel costs tens of microseconds on an idle virtual CPU,
// often more than the whole round trip to a device nearby. A caller that watches for its reply
// this long first takes a quick reply without that cost.
constexpr std::chrono::microseconds replySpin(200);

} // namespace

VantorPrivate::VantorPrivate(const std::string& address, std::uint16_t port)
    : VantorBase(address, port, 0)
{
    // Complete now: datagrams may reach handleMessage from here on.
    start();
}

VantorPrivate::~VantorPrivate()
{
    // The receive thread must be gone before the members it uses.
    shutdown();
}

int VantorPrivate::sendCommand(const std::string& command, std::int32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(transactionMutex, std::defer_lock);
    return transact(command, timeoutMs, lock);
}

int VantorPrivate::transact(const std::string& command, std::int32_t timeoutMs,
                            std::unique_lock<std::mutex>& lock)
{
    if (command.size() < 6) {
        return status::UnknownCommand;
    }
    if (!lock.try_lock() || transactionOpen) {
        return status::Busy;
    }
    transactionOpen = true;
    awaitingReply = true;
    pendingCommand = command;
    try {
        // Sent under the lock, so the reply cannot be handled before the caller waits.
        sendMessage(command);
    } catch (...) {
        awaitingReply = false;
        transactionOpen = false;
        throw;
    }
    const std::uint32_t timeout =
        timeoutMs >= 0 ? static_cast<std::uint32_t>(timeoutMs) : defaultTimeoutMs;
    const int result = waitForReply(lock, timeout);
    awaitingReply = false;
    transactionOpen = false;
    return result;
}

int VantorPrivate::waitForReply(std::unique_lock<std::mutex>& lock, std::uint32_t timeoutMs)
{
    // A steady clock: a wall-clock step must neither cut a wait short nor stretch it.
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(timeoutMs);
    const std::uint64_t receivedBefore = datagramsReceived();
    // Only while the last reply came within the window and alone: behind a slow device, on a
    // loaded machine, or while other datagrams arrive (which the receive thread needs a core
    // for) the caller blocks at once and spends nothing. The first quick lone reply after that,
    // timed while blocked, turns the watch back on. The lock is free meanwhile, as during the
    // blocking wait, so the receive thread can end the transaction.
    if (spinNext) {
        const auto spinEnd =
            timeoutMs == 0 ? start + replySpin : std::min(start + replySpin, deadline);
        lock.unlock();
        while (awaitingReply.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < spinEnd) {
            std::this_thread::yield();
        }
        lock.lock();
    }
    if (timeoutMs == 0) {
        while (awaitingReply) {
            replyArrived.wait(lock);
        }
    }
    while (awaitingReply) {
        if (replyArrived.wait_until(lock, deadline) == std::cv_status::timeout && awaitingReply) {
            awaitingReply = false;
            replyStatus = status::Timeout;
            spinNext = false;
            return status::Timeout;
        }
    }
    // The reply itself may have been counted before receivedBefore was read.
    spinNext = std::chrono::steady_clock::now() - start < replySpin &&
               datagramsReceived() - receivedBefore <= 1;
    return replyStatus;
}

void VantorPrivate::handleMessage(LinkMessage message)
{
    if (!awaitingReply) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(transactionMutex);
        if (pendingCommand.size() < 6 || message.header.compare(2, 4, pendingCommand, 2, 4) != 0) {
            return;
        }
        const std::string kind = message.header.substr(0, 2);
        if (kind == "EE") {
            replyStatus =
                message.payload.empty() ? 0 : static_cast<unsigned char>(message.payload[0]);
        } else if (kind == "EA") {
            replyStatus = 0;
        } else if (kind == "ER") {
            replyStatus = 0;
            replyPayload = std::move(message.payload);
        }
        awaitingReply = false;
    }
    // Notified after unlocking, so the woken caller does not block at once on the held mutex.
    // The caller cannot destroy the client meanwhile: its destructor joins this thread first.
    replyArrived.notify_one();
}

void VantorPrivate::beginTransactionForTest(const std::string& command)
{
    std::lock_guard<std::mutex> lock(transactionMutex);
    pendingCommand = command;
    awaitingReply = true;
}

bool VantorPrivate::transactionStateForTest(int& status, std::string& payload)
{
    std::lock_guard<std::mutex> lock(transactionMutex);
    status = replyStatus;
    payload = replyPayload;
    return awaitingReply;
}

int VantorPrivate::Home()
{
    return sendCommand(makeHomeCommand(), static_cast<std::int32_t>(motionTimeoutMs));
}

int VantorPrivate::SetApertureAngles(double azimuth, double elevation, double speed)
{
    return sendCommand(makeSetApertureAnglesCommand(azimuth, elevation, speed),
                       static_cast<std::int32_t>(motionTimeoutMs));
}

int VantorPrivate::TrackApertureAngles(double azimuth, double elevation, double speed)
{
    return sendCommand(makeTrackApertureAnglesCommand(azimuth, elevation, speed), -1);
}

int VantorPrivate::SetAcceleration(double acceleration)
{
    return sendCommand(makeSetAccelerationCommand(acceleration), -1);
}

int VantorPrivate::GetApertureAngles(double& azimuth, double& elevation)
{
    std::unique_lock<std::mutex> lock(transactionMutex, std::defer_lock);
    const int status = transact(makeGetApertureAnglesCommand(), -1, lock);
    if (status != 0) {
        return status;
    }
    // Still under the lock the transaction ended with: the payload is this call's reply's.
    decodeApertureAngles(replyPayload, azimuth, elevation);
    return 0;
}

} // namespace halvik
