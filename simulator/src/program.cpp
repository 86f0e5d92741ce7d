#include "program.h"

#include "commandline.h"

#include <halvik/simulator.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/system/system_error.hpp>

#include <csignal>
#include <iostream>
#include <mutex>

namespace halvik::sim {

int runSimulatorProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    CommandLine cl = CommandLine::parse(args);
    if (cl.help) {
        out << CommandLine::usage();
        return 0;
    }
    if (cl.version) {
        out << "vantor_sim " << HALVIK_VERSION << "\n";
        return 0;
    }
    if (!cl.error.empty()) {
        err << "vantor_sim: " << cl.error << " (see --help)\n";
        return 2;
    }
    auto logMutex = std::make_shared<std::mutex>();
    if (cl.verbose) {
        cl.simulator.log = [&err, logMutex](const std::string& line) {
            std::lock_guard<std::mutex> lock(*logMutex);
            err << line << '\n' << std::flush;
        };
    }

    // Signals are set up before the devices answer, so an early SIGTERM is not lost.
    boost::asio::io_context signals;
    boost::asio::signal_set stop(signals, SIGINT, SIGTERM);
    stop.async_wait([](const boost::system::error_code&, int) {});

    try {
        Simulator simulator(cl.simulator);
        out << "vantor_sim: " << simulator.size()
            << (simulator.size() == 1 ? " device" : " devices") << " on port " << simulator.port()
            << (cl.simulator.listenBroadcast ? ", broadcasts heard on 0.0.0.0" : "") << '\n';
        for (std::size_t i = 0; i < simulator.size(); ++i) {
            SimulatedDevice& device = simulator.device(i);
            out << "device " << device.address() << ' ' << device.port() << ' ' << device.serial()
                << '\n';
        }
        out << "vantor_sim: ready; stop with Ctrl+C or SIGTERM" << std::endl;
        signals.run();
    } catch (const boost::system::system_error& e) {
        err << "vantor_sim: " << e.what() << '\n';
        return 1;
    }
    out << "vantor_sim: stopped" << std::endl;
    return 0;
}

} // namespace halvik::sim
