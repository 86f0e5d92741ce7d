// The rotctld bridge's cost: `p` requests over TCP through vantorctl's bridge against direct
// Vantor::GetApertureAngles calls, both against the same minimal responder, in interleaved
// rounds of the same run. The bridge adds a loopback TCP round trip (about what the link's own
// UDP round trip costs) and two thread hand-offs (network thread to device thread and back, each
// about the link's own hand-off): a third of the direct rate is what that design costs, and the
// target says the bridge costs no more than that.

#include "support/arguments.h"
#include "support/geaaresponder.h"
#include "support/stats.h"
#include "support/table.h"

#include <halvik/vantor.h>
#include <halvik/vantorctl/rotctldbridge.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <chrono>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using halvik::bench::fixed;
using halvik::bench::grouped;
using halvik::bench::median;
using halvik::bench::percentile;
using halvik::bench::printRow;

struct Series
{
    std::vector<double> rates;
    std::vector<double> latencies;
};

template <typename RoundTrip> void measure(Series& series, int iterations, RoundTrip&& roundTrip)
{
    const auto started = Clock::now();
    for (int i = 0; i < iterations; ++i) {
        const auto t0 = Clock::now();
        roundTrip();
        series.latencies.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    series.rates.push_back(iterations /
                           std::chrono::duration<double>(Clock::now() - started).count());
}

std::string describe(const Series& s)
{
    return grouped(median(s.rates)) + " /s, p50 " + fixed(percentile(s.latencies, 0.5), 1) +
           " us, p99 " + fixed(percentile(s.latencies, 0.99), 1) + " us";
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = halvik::bench::argument(argc, argv, "--rounds", 20);
    const int iterations = halvik::bench::argument(argc, argv, "--iterations", 1000);

    halvik::bench::GeaaResponder responder("127.0.70.2");
    halvik::Vantor direct(responder.address(), responder.port());

    halvik::vantorctl::RotctldSettings settings;
    settings.deviceAddress = responder.address();
    settings.devicePort = responder.port();
    settings.listenPort = 0;
    std::ostringstream log;
    halvik::vantorctl::RotctldBridge bridge(settings, log);
    std::thread server([&] { bridge.run(); });

    boost::asio::io_context io;
    boost::asio::ip::tcp::socket client(io);
    client.connect({boost::asio::ip::make_address_v4("127.0.0.1"), bridge.port()});
    client.set_option(boost::asio::ip::tcp::no_delay(true));
    boost::asio::streambuf input;
    int failures = 0;

    Series directSeries;
    Series bridgeSeries;
    for (int round = 0; round < rounds; ++round) {
        measure(directSeries, iterations, [&] {
            double az = 0.0;
            double el = 0.0;
            failures += direct.GetApertureAngles(az, el) != 0;
        });
        measure(bridgeSeries, iterations, [&] {
            boost::asio::write(client, boost::asio::buffer("p\n", 2));
            for (int line = 0; line < 2; ++line) {
                const std::size_t n = boost::asio::read_until(client, input, '\n');
                failures += std::string(static_cast<const char*>(input.data().data()), n)
                                .rfind("RPRT", 0) == 0;
                input.consume(n);
            }
        });
    }
    bridge.stop();
    server.join();

    const double ratio = median(bridgeSeries.rates) / median(directSeries.rates);
    printRow("rotctld bridge: direct Vantor::GetApertureAngles", describe(directSeries));
    printRow("rotctld bridge: `p` over TCP through the bridge", describe(bridgeSeries));
    printRow("rotctld bridge: round trips/s bridge / direct", fixed(ratio, 2), ">= 0.3",
             halvik::bench::verdict(ratio >= 0.3));
    if (failures > 0) {
        printRow("rotctld bridge: failed requests", std::to_string(failures), "0",
                 halvik::bench::verdict(false));
    }
    return 0;
}
