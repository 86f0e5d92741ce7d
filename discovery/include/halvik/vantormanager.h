#pragma once

#include <halvik/discoverylistener.h>
#include <halvik/vantormap.h>

#include <memory>
#include <string>

namespace halvik {

class VantorManagerPrivate;

/// Discovery client: finds Vantors by broadcast and changes a device's IP address by serial.
class VantorManager
{
public:
    /// Opens the broadcast link to 255.255.255.255:4365 and sends the greeting.
    VantorManager();
    /// Same, for another broadcast address and port (the loopback broadcast, a lab subnet).
    VantorManager(const std::string& broadcastAddress, unsigned short port);
    ~VantorManager();

    VantorManager(const VantorManager&) = delete;
    VantorManager& operator=(const VantorManager&) = delete;

    /// Starts a discovery: 0 when not blocking, 5 for blocking without time-out, 253 busy,
    /// otherwise the status it ended with (normally 254 at the end of the window).
    int FindVantors(unsigned int timeoutMs, bool blocking, DiscoveryListener* listener);
    /// Forgets every device heard so far.
    void ClearVantors();
    /// A copy of the devices heard so far.
    VantorMap GetVantors();
    /// Asks the device with this serial to take newAddress: 0 success (or a refusal without a
    /// status byte), the device's status byte, 5 invalid address, 253 busy, 254 time-out.
    int SetVantorIP(std::string serial, std::string newAddress);

private:
    std::unique_ptr<VantorManagerPrivate> d;
};

} // namespace halvik
