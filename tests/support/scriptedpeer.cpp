#include "scriptedpeer.h"

#include <boost/asio/post.hpp>

namespace halvik::test {

using boost::asio::ip::udp;

ScriptedPeer::ScriptedPeer(const std::string& address, std::uint16_t port, bool reuseAddress)
    : socket(io)
{
    const udp::endpoint local(boost::asio::ip::make_address_v4(address), port);
    socket.open(udp::v4());
    if (reuseAddress) {
        socket.set_option(boost::asio::socket_base::reuse_address(true));
    }
    socket.set_option(boost::asio::socket_base::broadcast(true));
    socket.bind(local);
    boundPort = socket.local_endpoint().port();
    startReceive();
    thread = std::thread([this] { io.run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    io.stop();
    thread.join();
}

udp::endpoint ScriptedPeer::endpoint() const
{
    return socket.local_endpoint();
}

void ScriptedPeer::setResponder(Responder r)
{
    std::lock_guard<std::mutex> lock(mutex);
    responder = std::move(r);
}

void ScriptedPeer::answer(const std::string& code, std::vector<std::string> replies)
{
    std::lock_guard<std::mutex> lock(mutex);
    answers.emplace_back(code, std::move(replies));
}

void ScriptedPeer::sendTo(const std::string& bytes, const udp::endpoint& to)
{
    socket.send_to(boost::asio::buffer(bytes), to);
}

void ScriptedPeer::sendToLastSender(const std::string& bytes)
{
    udp::endpoint to;
    {
        std::lock_guard<std::mutex> lock(mutex);
        to = lastSender;
    }
    sendTo(bytes, to);
}

std::vector<Datagram> ScriptedPeer::received() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log;
}

std::size_t ScriptedPeer::receivedCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return log.size();
}

std::vector<Datagram> ScriptedPeer::receivedWithCode(const std::string& code) const
{
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<Datagram> result;
    for (const auto& d : log) {
        if (d.bytes.size() >= 6 && d.bytes.compare(2, 4, code) == 0) {
            result.push_back(d);
        }
    }
    return result;
}

bool ScriptedPeer::waitForCount(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return arrived.wait_for(lock, timeout, [&] { return log.size() >= count; });
}

void ScriptedPeer::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    log.clear();
}

void ScriptedPeer::startReceive()
{
    socket.async_receive_from(
        boost::asio::buffer(buffer), from,
        [this](const boost::system::error_code& error, std::size_t n) {
            if (error == boost::asio::error::operation_aborted) {
                return;
            }
            if (!error) {
                Datagram d{std::string(buffer.data(), n), from, std::chrono::steady_clock::now()};
                std::vector<std::string> replies;
                Responder r;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    log.push_back(d);
                    lastSender = from;
                    r = responder;
                    if (d.bytes.size() >= 6) {
                        for (const auto& [code, answer] : answers) {
                            if (d.bytes.compare(2, 4, code) == 0) {
                                replies.insert(replies.end(), answer.begin(), answer.end());
                            }
                        }
                    }
                }
                arrived.notify_all();
                if (r) {
                    auto more = r(d.bytes);
                    replies.insert(replies.end(), more.begin(), more.end());
                }
                for (const auto& reply : replies) {
                    boost::system::error_code ignored;
                    socket.send_to(boost::asio::buffer(reply), from, 0, ignored);
                }
            }
            startReceive();
        });
}

} // namespace halvik::test
