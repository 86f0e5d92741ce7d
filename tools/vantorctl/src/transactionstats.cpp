#include <halvik/vantorctl/transactionstats.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <locale>
#include <ostream>
#include <sstream>

namespace halvik::vantorctl {

namespace {

constexpr int busyStatus = 253;
constexpr int timeoutStatus = 254;

} // namespace

int TransactionStats::measure(const std::string& operation, const std::function<int()>& call)
{
    const auto start = std::chrono::steady_clock::now();
    const int status = call();
    record(operation, std::chrono::steady_clock::now() - start, status);
    return status;
}

void TransactionStats::record(const std::string& operation, std::chrono::nanoseconds duration,
                              int status)
{
    Operation& op = operations[operation];
    ++op.count;
    if (status == timeoutStatus) {
        ++op.timeouts;
    } else if (status == busyStatus) {
        ++op.busy;
    } else {
        // A time-out lasts the time-out and a busy answer sends nothing: neither is a round trip.
        op.answeredMs.push_back(std::chrono::duration<double, std::milli>(duration).count());
    }
}

std::size_t TransactionStats::count() const
{
    std::size_t n = 0;
    for (const auto& entry : operations) {
        n += entry.second.count;
    }
    return n;
}

std::size_t TransactionStats::timeouts() const
{
    std::size_t n = 0;
    for (const auto& entry : operations) {
        n += entry.second.timeouts;
    }
    return n;
}

std::size_t TransactionStats::busy() const
{
    std::size_t n = 0;
    for (const auto& entry : operations) {
        n += entry.second.busy;
    }
    return n;
}

double TransactionStats::percentileMs(double p, const std::string& operation) const
{
    std::vector<double> values;
    for (const auto& entry : operations) {
        if (operation.empty() || entry.first == operation) {
            values.insert(values.end(), entry.second.answeredMs.begin(),
                          entry.second.answeredMs.end());
        }
    }
    return percentile(std::move(values), p);
}

double TransactionStats::percentile(std::vector<double> values, double p)
{
    if (values.empty()) {
        return -1.0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size()));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

void TransactionStats::reportLine(std::ostream& out, const std::string& name, const Operation& op)
{
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << "stats: " << std::left << std::setw(20) << name << std::right << std::setw(7)
         << op.count;
    for (const double p : {50.0, 99.0, 100.0}) {
        const double ms = percentile(op.answeredMs, p);
        line << std::setw(10);
        if (ms < 0) {
            line << "-";
        } else {
            line << std::fixed << std::setprecision(3) << ms;
        }
    }
    line << std::setw(11) << op.timeouts << std::setw(6) << op.busy;
    out << line.str() << '\n';
}

void TransactionStats::report(std::ostream& out) const
{
    std::ostringstream header;
    header << "stats: " << std::left << std::setw(20) << "operation" << std::right << std::setw(7)
           << "count" << std::setw(10) << "p50 ms" << std::setw(10) << "p99 ms" << std::setw(10)
           << "max ms" << std::setw(11) << "time-outs" << std::setw(6) << "busy";
    out << header.str() << '\n';
    Operation all;
    for (const auto& [name, op] : operations) {
        reportLine(out, name, op);
        all.answeredMs.insert(all.answeredMs.end(), op.answeredMs.begin(), op.answeredMs.end());
        all.count += op.count;
        all.timeouts += op.timeouts;
        all.busy += op.busy;
    }
    reportLine(out, "all", all);
    out.flush();
}

} // namespace halvik::vantorctl
