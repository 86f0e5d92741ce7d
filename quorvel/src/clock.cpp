#include <halvik/quorvel/clock.h>

namespace halvik::quorvel {

Clock Clock::system()
{
    return {[] { return QTime::currentTime(); }, [] { return std::chrono::steady_clock::now(); }};
}

} // namespace halvik::quorvel
