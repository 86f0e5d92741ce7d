#pragma once

#include <cstdint>

namespace halvik::sim {

/// A small generator (SplitMix64) whose sequence is the same on every platform and library, so a
/// seed reproduces a fault run anywhere.
class SeededRandom
{
public:
    explicit SeededRandom(std::uint64_t seed = 1)
        : state(seed)
    {}

    std::uint64_t next();
    /// Uniform in [0, 1).
    double uniform();
    /// True with probability p.
    bool chance(double p) { return uniform() < p; }

private:
    std::uint64_t state;
};

} // namespace halvik::sim
