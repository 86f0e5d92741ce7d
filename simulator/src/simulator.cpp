#include "broadcastlistener.h"
#include "engine.h"
#include "simulateddeviceprivate.h"
#include "udpsockets.h"

#include <halvik/simulator.h>

#include <stdexcept>

namespace halvik::sim {

namespace {
std::string serialNumber(const std::string& prefix, int n)
{
    std::string digits = std::to_string(n);
    if (digits.size() < 4) {
        digits.insert(0, 4 - digits.size(), '0');
    }
    return prefix + digits;
}
} // namespace

Simulator::Simulator(SimulatorOptions options)
    : engine(std::make_shared<Engine>())
{
    if (options.devices < 0) {
        throw std::invalid_argument("Simulator: negative device count");
    }
    std::shared_ptr<UdpSocket> wildcard;
    sharedPort = options.port;
    if (sharedPort == 0) {
        wildcard = reserveFreePort(engine->io());
        sharedPort = wildcard->local_endpoint().port();
    }
    for (int i = 0; i < options.devices; ++i) {
        DeviceOptions device;
        device.address = offsetAddress(options.firstAddress, static_cast<unsigned>(i));
        device.port = sharedPort;
        device.serial = serialNumber(options.serialPrefix, i + 1);
        device.requireHome = options.requireHome;
        device.listenBroadcast = false;
        device.faults = options.faults;
        device.faults.seed = options.faults.seed + static_cast<std::uint64_t>(i);
        device.readbackNoise = options.readbackNoise;
        device.backlash = options.backlash;
        device.offset = options.offset;
        device.log = options.log;
        devices.push_back(std::unique_ptr<SimulatedDevice>(new SimulatedDevice(device, engine)));
    }
    if (options.listenBroadcast) {
        if (!wildcard) {
            wildcard = bindShared(engine->io(), boost::asio::ip::address_v4::any(), sharedPort);
        }
        // Runs on the engine thread, like every device handler, so the devices see one
        // broadcast after another.
        listener = std::make_unique<BroadcastListener>(
            wildcard, [this](const std::string& bytes, const boost::asio::ip::udp::endpoint& from) {
                for (auto& device : devices) {
                    device->d->handleDatagram(bytes, from, true);
                }
            });
        listener->start();
    } else if (wildcard) {
        boost::system::error_code ignored;
        wildcard->close(ignored); // the devices hold the port now
    }
    engine->start();
}

Simulator::~Simulator()
{
    engine->stop();
    devices.clear();
    listener.reset();
}

std::size_t Simulator::size() const
{
    return devices.size();
}

SimulatedDevice& Simulator::device(std::size_t i)
{
    return *devices.at(i);
}

std::uint16_t Simulator::port() const
{
    return sharedPort;
}

std::uint16_t Simulator::freeUdpPort()
{
    boost::asio::io_context io;
    auto socket = reserveFreePort(io);
    return socket->local_endpoint().port();
}

std::string Simulator::offsetAddress(const std::string& address, unsigned n)
{
    const auto base = boost::asio::ip::make_address_v4(address).to_uint();
    if (n > 0xffffffffu - base) {
        throw std::out_of_range("Simulator: address range overflows");
    }
    return boost::asio::ip::address_v4(base + n).to_string();
}

} // namespace halvik::sim
