// The discovery client's datagram handling: the first byte says whether an IP change is pending
// and which sender the datagram comes from, the rest is the datagram. Exercises both branches,
// the device map ("ERCQRE") and the IP change's answer ("..SIPC").
#include "vantormanagerprivate.h"

#include <halvik/linkmessage.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class FuzzedClient : public halvik::VantorManagerPrivate
{
public:
    // Port 9 (discard) on loopback: the link is open, nothing answers it.
    FuzzedClient()
        : VantorManagerPrivate("127.0.0.1", 9)
    {}
    using VantorManagerPrivate::handleMessage;
};

FuzzedClient& client()
{
    static auto instance = std::make_unique<FuzzedClient>();
    return *instance;
}

// Sender texts written into the decoded messages only: the client sends nothing but its greeting
// to 127.0.0.1:9.
const char* const senders[] = {"127.0.0.1", "10.77.0.2", "255.255.255.255", "0.0.0.0"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const bool pendingBefore = (data[0] & 1) != 0;
    const std::string sender = senders[(data[0] >> 1) % std::size(senders)];
    halvik::LinkMessage message;
    if (!halvik::decodeLinkMessage(reinterpret_cast<const char*>(data + 1), size - 1, sender,
                                   message)) {
        return 0;
    }
    auto& manager = client();
    manager.ClearVantors();
    if (pendingBefore) {
        manager.beginOperationForTest();
    }
    int statusBefore = 0;
    if (manager.operationStateForTest(statusBefore) != pendingBefore) {
        std::abort();
    }

    manager.handleMessage(message);

    int status = 0;
    const bool pending = manager.operationStateForTest(status);
    const halvik::VantorMap devices = manager.GetVantors();
    if (message.header == "ERCQRE") {
        // A device answer: recorded under its serial, whatever else is going on.
        if (devices.size() != 1 || devices.begin()->first != message.payload ||
            devices.begin()->second != sender || pending != pendingBefore ||
            status != statusBefore) {
            std::abort();
        }
    } else if (!devices.empty()) {
        std::abort();
    } else if (message.header.compare(2, 4, "SIPC") == 0 && pendingBefore &&
               (message.header[1] == 'E' || message.header[1] == 'R')) {
        // A deciding answer ends the operation with the device's status byte.
        const int expected = message.header[1] == 'R' || message.payload.empty()
                                 ? 0
                                 : static_cast<unsigned char>(message.payload[0]);
        if (pending || status != expected) {
            std::abort();
        }
    } else if (pending != pendingBefore || status != statusBefore) {
        std::abort();
    }

    if (pending) {
        // Leave nothing pending for the next input.
        manager.handleMessage({"ERSIPC", std::string(), sender});
        if (manager.operationStateForTest(status)) {
            std::abort();
        }
    }
    return 0;
}
