// The command client's reply matching: the first byte picks the pending command, the rest is
// the reply datagram.
#include "vantorprivate.h"

#include <halvik/linkmessage.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

const char* const commands[] = {"VNHOME", "VNGEAA", "VNSEAA\x00\x01\x02\x03\x04\x05",
                                "VNTRAA\x00\x01\x02\x03\x04\x05", "VNSEAC\x00\x00\x27\x10"};

halvik::VantorPrivate& client()
{
    // One link for the whole run; port 9 (discard) on loopback answers nothing.
    static auto instance = std::make_unique<halvik::VantorPrivate>("127.0.0.1", 9);
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string command = commands[data[0] % std::size(commands)];
    halvik::LinkMessage message;
    if (!halvik::decodeLinkMessage(reinterpret_cast<const char*>(data + 1), size - 1, "127.0.0.1",
                                   message)) {
        return 0;
    }
    auto& vantor = client();
    int before = 0;
    std::string payloadBefore;
    vantor.transactionStateForTest(before, payloadBefore);
    vantor.beginTransactionForTest(command);
    vantor.handleMessage(message);
    int status = 0;
    std::string payload;
    const bool pending = vantor.transactionStateForTest(status, payload);
    const bool matches = message.header.compare(2, 4, command, 2, 4) == 0;
    if (pending == matches || status < 0 || status > 255) {
        std::abort();
    }
    const std::string kind = message.header.substr(0, 2);
    if (matches && kind == "ER" && payload != message.payload) {
        std::abort();
    }
    if ((!matches || kind != "ER") && payload != payloadBefore) {
        std::abort();
    }
    if (!matches && status != before) {
        std::abort();
    }
    if (pending) {
        // Leave no transaction open for the next input.
        vantor.handleMessage({"EE" + command.substr(2, 4), std::string(), "127.0.0.1"});
    }
    return 0;
}
