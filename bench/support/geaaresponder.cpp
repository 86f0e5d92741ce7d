#include "geaaresponder.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace halvik::bench {

namespace {
// 12.34 degrees azimuth (1234 = 0x04d2), -5.00 degrees elevation (-500 = 0xfe0c), big-endian.
const char reply[] = {'E', 'R', 'G', 'E', 'A', 'A', '\x04', '\xd2', '\xfe', '\x0c'};

sockaddr_in endpoint(const std::string& address, std::uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    return to;
}
} // namespace

GeaaResponder::GeaaResponder(const std::string& address)
    : boundAddress(address)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = endpoint(address, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("responder cannot bind " + address + ": " + reason);
    }
    socklen_t length = sizeof local;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    boundPort = ntohs(local.sin_port);
    thread = std::thread([this] { serve(); });
}

GeaaResponder::~GeaaResponder()
{
    stopping = true;
    // A datagram of its own wakes the blocking receive, which then sees `stopping`.
    const int waker = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = endpoint(boundAddress, boundPort);
    ::sendto(waker, "XXSTOP", 6, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(waker);
    thread.join();
    ::close(fd);
}

double GeaaResponder::cpuSeconds()
{
    clockid_t clock{};
    timespec used{};
    if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 ||
        ::clock_gettime(clock, &used) != 0) {
        return 0.0;
    }
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void GeaaResponder::serve()
{
    char buffer[1024];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (stopping) {
            return;
        }
        if (n >= 6 && std::memcmp(buffer + 2, "GEAA", 4) == 0) {
            ::sendto(fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), fromLength);
            ++answeredCount;
        }
    }
}

} // namespace halvik::bench
