#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/streambuf.hpp>

#include <memory>
#include <string>

namespace halvik::vantorctl {

class RotctldBridgePrivate;

/// One client connection: reads a line, has the bridge answer it, writes the answer, and only
/// then reads the next line, so that replies keep the order of the requests.
class RotctldSession : public std::enable_shared_from_this<RotctldSession>
{
public:
    /// Longest request line taken; a longer one ends the connection.
    static constexpr std::size_t maxLine = 4096;

    RotctldSession(boost::asio::ip::tcp::socket socket, RotctldBridgePrivate& bridge);

    void start();
    void close();
    const std::string& peer() const { return peerText; }

private:
    void readLine();
    void handleLine(const boost::system::error_code& error, std::size_t length);
    void send(std::string text, bool thenClose);

    boost::asio::ip::tcp::socket socket;
    boost::asio::streambuf input{maxLine};
    RotctldBridgePrivate& bridge;
    std::string peerText;
    std::string output;
};

} // namespace halvik::vantorctl
