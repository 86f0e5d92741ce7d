#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <thread>

namespace halvik::sim {

/// The io context and the one thread that runs every handler of the devices that share it.
class Engine
{
public:
    Engine();
    /// Stops and joins.
    ~Engine();

    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    boost::asio::io_context& io() { return context; }
    /// Starts the thread; sockets are set up before, so nothing races with it.
    void start();
    /// Stops the loop and joins the thread; pending handlers never run. Safe to call twice.
    void stop();

private:
    void run();

    boost::asio::io_context context;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    std::thread thread;
};

} // namespace halvik::sim
