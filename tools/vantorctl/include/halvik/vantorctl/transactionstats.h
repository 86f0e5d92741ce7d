#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace halvik::vantorctl {

/// Round-trip times and outcomes of the device transactions of one vantorctl run.
class TransactionStats
{
public:
    /// Runs call (one transaction), records its duration and status under operation and
    /// returns the status.
    int measure(const std::string& operation, const std::function<int()>& call);
    /// Records one finished transaction.
    void record(const std::string& operation, std::chrono::nanoseconds duration, int status);

    /// Transactions recorded, of every operation.
    std::size_t count() const;
    /// Transactions that ended with status 254.
    std::size_t timeouts() const;
    /// Transactions that ended with status 253.
    std::size_t busy() const;

    /// Nearest-rank percentile (0 < p <= 100) of the answered transactions' round trips, in
    /// milliseconds; empty operation for all of them. Negative when none was answered.
    double percentileMs(double p, const std::string& operation = std::string()) const;

    /// One line per operation and one for all, each with count, p50, p99 and max round trip
    /// of the answered transactions, time-outs and busy answers.
    void report(std::ostream& out) const;

private:
    struct Operation
    {
        /// Round trips of transactions that got an answer (neither time-out nor busy).
        std::vector<double> answeredMs;
        std::size_t count = 0;
        std::size_t timeouts = 0;
        std::size_t busy = 0;
    };

    static double percentile(std::vector<double> values, double p);
    static void reportLine(std::ostream& out, const std::string& name, const Operation& op);

    std::map<std::string, Operation> operations;
};

} // namespace halvik::vantorctl
