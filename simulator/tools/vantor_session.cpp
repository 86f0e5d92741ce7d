// A short scripted session against Vantors: discovery by broadcast, then home, set the
// acceleration, a move, a read-back, a tracked move sampled while it runs and one refused move
// on every device found. Prints what happened; exits 1 when a device misbehaves.
#include <halvik/vantor.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using boost::asio::ip::udp;

std::string fixed(double value, int decimals = 2)
{
    char buffer[64];
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, r.ptr);
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Serial -> address of every "ERCQRE" heard within the window.
std::map<std::string, std::string> discover(const std::string& broadcast, unsigned short port,
                                            std::chrono::milliseconds window)
{
    boost::asio::io_context io;
    udp::socket socket(io, udp::endpoint(udp::v4(), 0));
    socket.set_option(boost::asio::socket_base::broadcast(true));
    socket.send_to(boost::asio::buffer(std::string("VNCQRE")),
                   udp::endpoint(boost::asio::ip::make_address_v4(broadcast), port));

    std::map<std::string, std::string> found;
    std::array<char, 1024> buffer{};
    udp::endpoint from;
    std::function<void()> receive = [&] {
        socket.async_receive_from(boost::asio::buffer(buffer), from,
                                  [&](const boost::system::error_code& error, std::size_t n) {
                                      if (error) {
                                          return;
                                      }
                                      const std::string bytes(buffer.data(), n);
                                      if (bytes.compare(0, 6, "ERCQRE") == 0) {
                                          found[bytes.substr(6)] = from.address().to_string();
                                      }
                                      receive();
                                  });
    };
    receive();
    boost::asio::steady_timer end(io, window);
    end.async_wait([&](const boost::system::error_code&) { socket.cancel(); });
    io.run();
    return found;
}

bool session(const std::string& address, unsigned short port)
{
    using halvik::Vantor;
    bool ok = true;
    auto report = [&](const std::string& what, int status, int expected, const std::string& extra) {
        const bool good = status == expected;
        ok = ok && good;
        std::cout << "  " << what << ": " << Vantor::StatusText(status) << extra
                  << (good ? "" : "   <-- unexpected") << '\n';
    };

    std::cout << "device " << address << ":" << port << '\n';
    Vantor vantor(address, port);
    auto start = Clock::now();
    report("Home", vantor.Home(), 0, " (" + std::to_string(msSince(start)) + " ms)");
    report("SetAcceleration(10000)", vantor.SetAcceleration(10000), 0, "");

    start = Clock::now();
    const int moved = vantor.SetApertureAngles(270.5, 30.25, 10);
    report("SetApertureAngles(270.5, 30.25, 10)", moved, 0,
           " (" + std::to_string(msSince(start)) + " ms)");
    double az = 0;
    double el = 0;
    const int read = vantor.GetApertureAngles(az, el);
    report("GetApertureAngles", read, 0, " az " + fixed(az) + " el " + fixed(el));
    if (read == 0 && (std::fabs(az - 270.5) > 0.1 || std::fabs(el - 30.25) > 0.1)) {
        std::cout << "  read-back is off the target   <-- unexpected\n";
        ok = false;
    }

    report("SetAcceleration(1000)", vantor.SetAcceleration(1000), 0, "");
    start = Clock::now();
    report("TrackApertureAngles(90, -20, 1)", vantor.TrackApertureAngles(90, -20, 1), 0,
           " (answered at once)");
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        const int status = vantor.GetApertureAngles(az, el);
        report("  after " + std::to_string(msSince(start)) + " ms", status, 0,
               " az " + fixed(az) + " el " + fixed(el));
    }
    report("SetApertureAngles(400, 0, 10)", vantor.SetApertureAngles(400, 0, 10), 2,
           " (refused as it should be)");
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::string broadcast = "127.255.255.255";
    unsigned short port = 4365;
    std::size_t expect = 0;
    std::vector<std::string> addresses;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&](auto& out) {
            const std::string v = i + 1 < argc ? argv[++i] : "";
            const auto r = std::from_chars(v.data(), v.data() + v.size(), out);
            return r.ec == std::errc() && r.ptr == v.data() + v.size() && !v.empty();
        };
        if (arg == "--help" || arg == "-h") {
            std::cout << "Usage: vantor_session [--broadcast ADDRESS] [--port P] [--expect N] "
                         "[ADDRESS...]\n"
                         "Runs a short scripted session on each ADDRESS, or else on every Vantor "
                         "that answers a\nbroadcast (default 127.255.255.255:4365); exits 1 "
                         "when fewer than N answer or a\ndevice misbehaves.\n";
            return 0;
        }
        if (arg == "--broadcast" && i + 1 < argc) {
            broadcast = argv[++i];
        } else if ((arg == "--port" && number(port)) || (arg == "--expect" && number(expect))) {
        } else if (arg.rfind("--", 0) != 0) {
            addresses.push_back(arg);
        } else {
            std::cerr << "vantor_session: bad argument " << arg << '\n';
            return 2;
        }
    }

    try {
        if (addresses.empty()) {
            const auto found = discover(broadcast, port, std::chrono::milliseconds(500));
            std::cout << "discovery on " << broadcast << ":" << port << ": " << found.size()
                      << (found.size() == 1 ? " Vantor" : " Vantors") << " found\n";
            for (const auto& [serial, address] : found) {
                std::cout << "  " << serial << " at " << address << '\n';
                addresses.push_back(address);
            }
        }
        bool ok = addresses.size() >= expect;
        for (const auto& address : addresses) {
            ok = session(address, port) && ok;
        }
        std::cout << (ok ? "session: all devices behaved" : "session: FAILED") << std::endl;
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "vantor_session: " << e.what() << '\n';
        return 1;
    }
}
