#pragma once

#include "udpsockets.h"

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace halvik::sim {

/// The socket on 0.0.0.0:port that receives broadcasts (127.255.255.255 on loopback, or
/// 255.255.255.255 inside a network namespace) and hands each datagram on.
class BroadcastListener
{
public:
    using Handler =
        std::function<void(const std::string& bytes, const boost::asio::ip::udp::endpoint& from)>;

    /// Takes a socket already bound to 0.0.0.0:port; receiving starts with start().
    BroadcastListener(std::shared_ptr<UdpSocket> socket, Handler handler);
    /// Closes the socket; the engine is stopped before.
    ~BroadcastListener();

    BroadcastListener(const BroadcastListener&) = delete;
    BroadcastListener& operator=(const BroadcastListener&) = delete;

    /// Arms the first receive (before the engine thread starts).
    void start();

private:
    struct Receiver
    {
        std::shared_ptr<UdpSocket> socket;
        std::array<char, 65536> buffer{};
        boost::asio::ip::udp::endpoint from;
    };
    static void receive(std::shared_ptr<Receiver> receiver, Handler* handler);

    std::shared_ptr<Receiver> receiver;
    Handler handler;
};

} // namespace halvik::sim
