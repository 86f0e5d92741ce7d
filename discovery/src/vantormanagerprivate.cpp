#include "vantormanagerprivate.h"

#include "setiprequest.h"

#include <halvik/statuscode.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <iostream>
#include <utility>

namespace halvik {

namespace {
const std::string queryRequest = "VNCQRE";
const std::string queryAnswerHeader = "ERCQRE";
const std::string setIpCode = "SIPC";
constexpr std::uint16_t devicePort = 4365;
} // namespace

VantorManagerPrivate::VantorManagerPrivate()
    : VantorManagerPrivate("255.255.255.255", devicePort)
{}

VantorManagerPrivate::VantorManagerPrivate(const std::string& broadcastAddress, std::uint16_t port)
    : VantorBase(broadcastAddress, port, 0)
    , operationTimer(boost::make_shared<boost::asio::steady_timer>(*ioService))
    , requeryTimer(boost::make_shared<boost::asio::steady_timer>(*ioService))
{
    // Complete now: datagrams may reach handleMessage from here on.
    start();
}

VantorManagerPrivate::~VantorManagerPrivate()
{
    {
        const std::lock_guard<std::mutex> lock(stateMutex);
        operationPending = false;
        continuousDiscovery = false;
        listener = nullptr;
        ++operationGeneration;
        operationTimer->cancel();
        requeryTimer->cancel();
    }
    // The receive thread runs the timer handlers and handleMessage on this object: it has to end
    // before any member goes.
    shutdown();
}

int VantorManagerPrivate::FindVantors(unsigned int timeoutMs, bool blocking,
                                      DiscoveryListener* newListener)
{
    if (timeoutMs == 0 && blocking) {
        return status::InvalidArgument;
    }
    Lock lock(stateMutex, std::try_to_lock);
    if (!lock.owns_lock() || operationPending) {
        return status::Busy;
    }
    // Sent before the state changes: a send that throws leaves the client idle.
    sendMessage(queryRequest);

    const std::uint64_t generation = ++operationGeneration;
    operationPending = true;
    // Always replaced, null included, so that a listener of an earlier discovery is never called.
    listener = newListener;
    continuousDiscovery = timeoutMs == 0;
    if (!continuousDiscovery) {
        operationTimer->expires_after(std::chrono::milliseconds(timeoutMs));
        operationTimer->async_wait([this, generation](const boost::system::error_code& error) {
            onOperationTimeout(error, generation);
        });
    }
    armRequery(generation);

    if (!blocking) {
        return status::NoError;
    }
    // The lock stays held until the wait releases it, so the operation cannot end unseen.
    return waitForOperation(lock, generation);
}

void VantorManagerPrivate::ClearVantors()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    vantors.clear();
}

VantorMap VantorManagerPrivate::GetVantors()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    return vantors;
}

int VantorManagerPrivate::SetVantorIP(std::string serial, std::string newAddress)
{
    Lock lock(stateMutex, std::try_to_lock);
    if (!lock.owns_lock() || operationPending) {
        return status::Busy;
    }
    if (!isValidAddress(newAddress)) {
        return status::InvalidArgument;
    }
    sendMessage(makeSetIpRequest(serial, boost::asio::ip::make_address_v4(newAddress)));

    const std::uint64_t generation = ++operationGeneration;
    operationPending = true;
    continuousDiscovery = false;
    listener = nullptr;
    operationTimer->expires_after(std::chrono::milliseconds(setIpTimeoutMs));
    operationTimer->async_wait([this, generation](const boost::system::error_code& error) {
        onOperationTimeout(error, generation);
    });

    const int result = waitForOperation(lock, generation);
    if (result == status::NoError) {
        vantors.insert_or_assign(std::move(serial), std::move(newAddress));
    }
    return result;
}

bool VantorManagerPrivate::isValidAddress(const std::string& text)
{
    // The conversion reads the text only up to a zero byte, and Winsock's also takes a ":port"
    // suffix; the whole text has to be the dotted address.
    if (text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(text, error);
    return !error && std::count(text.begin(), text.end(), '.') == 3;
}

void VantorManagerPrivate::beginOperationForTest()
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    ++operationGeneration;
    operationPending = true;
    continuousDiscovery = false;
    listener = nullptr;
}

bool VantorManagerPrivate::operationStateForTest(int& status)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    status = operationStatus;
    return operationPending;
}

void VantorManagerPrivate::handleMessage(LinkMessage message)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    if (message.header == queryAnswerHeader) {
        // Recorded whether or not a discovery is pending; a later answer replaces the address.
        vantors.insert_or_assign(std::move(message.payload), std::move(message.senderAddress));
        return;
    }
    if (message.header.compare(2, setIpCode.size(), setIpCode) != 0 || !operationPending) {
        return;
    }
    // Any deciding SIPC answer ends whatever operation is pending, a discovery included.
    switch (message.header[1]) {
    case 'E':
        endOperation(message.payload.empty() ? 0 : static_cast<unsigned char>(message.payload[0]));
        break;
    case 'R':
        endOperation(status::NoError);
        break;
    default:
        break; // an acknowledgement decides nothing: the wait goes on
    }
}

void VantorManagerPrivate::onRequeryTick(const boost::system::error_code& error,
                                         std::uint64_t generation)
{
    {
        const std::lock_guard<std::mutex> lock(stateMutex);
        if (error || !isCurrent(generation)) {
            return;
        }
    }
    // Sent without the lock, so that a caller is not turned away as busy meanwhile.
    try {
        sendMessage(queryRequest);
    } catch (const std::exception& e) {
        // One lost query is not the end of the discovery: the next tick tries again.
        std::cerr << "VantorManager: cannot repeat the query: " << e.what() << std::endl;
    }
    const std::lock_guard<std::mutex> lock(stateMutex);
    // The discovery may have ended, and another begun, while the lock was free.
    if (!isCurrent(generation)) {
        return;
    }
    if (continuousDiscovery) {
        notifyListener();
    }
    armRequery(generation);
}

void VantorManagerPrivate::onOperationTimeout(const boost::system::error_code& error,
                                              std::uint64_t generation)
{
    const std::lock_guard<std::mutex> lock(stateMutex);
    if (error || !isCurrent(generation)) {
        return;
    }
    // The listener gets the final map; endOperation forgets it afterwards.
    notifyListener();
    endOperation(status::Timeout);
}

int VantorManagerPrivate::waitForOperation(Lock& lock, std::uint64_t generation)
{
    if (!isCurrent(generation)) {
        return operationStatus;
    }
    if (continuousDiscovery) {
        return status::Busy; // it never ends by itself
    }
    operationDone.wait(lock, [&] { return !isCurrent(generation); });
    return operationStatus;
}

bool VantorManagerPrivate::isCurrent(std::uint64_t generation) const
{
    return operationPending && generation == operationGeneration;
}

void VantorManagerPrivate::armRequery(std::uint64_t generation)
{
    // Setting the expiry cancels a wait still outstanding from an earlier discovery.
    requeryTimer->expires_after(std::chrono::milliseconds(requeryIntervalMs));
    requeryTimer->async_wait([this, generation](const boost::system::error_code& error) {
        onRequeryTick(error, generation);
    });
}

void VantorManagerPrivate::endOperation(int status)
{
    operationStatus = status;
    operationPending = false;
    continuousDiscovery = false;
    listener = nullptr;
    operationTimer->cancel();
    requeryTimer->cancel();
    operationDone.notify_all();
}

void VantorManagerPrivate::notifyListener()
{
    if (listener == nullptr) {
        return;
    }
    try {
        listener->vantorsFound(vantors);
    } catch (const std::exception& e) {
        // The owner's fault must not stop the discovery's timers.
        std::cerr << "VantorManager: discovery listener failed: " << e.what() << std::endl;
    }
}

} // namespace halvik
