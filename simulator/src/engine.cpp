#include "engine.h"

#include <exception>
#include <iostream>

namespace halvik::sim {

Engine::Engine()
    : work(boost::asio::make_work_guard(context))
{}

Engine::~Engine()
{
    stop();
}

void Engine::start()
{
    if (!thread.joinable()) {
        thread = std::thread(&Engine::run, this);
    }
}

void Engine::stop()
{
    context.stop();
    if (thread.joinable()) {
        thread.join();
    }
}

void Engine::run()
{
    // A throwing handler is reported and the loop goes on: one bad datagram must not silence
    // every device. run() returns normally only after stop().
    for (;;) {
        try {
            context.run();
            return;
        } catch (const std::exception& e) {
            std::cerr << "vantor simulator: " << e.what() << std::endl;
        } catch (...) {
            std::cerr << "vantor simulator: unknown exception" << std::endl;
        }
        if (context.stopped()) {
            return;
        }
    }
}

} // namespace halvik::sim
