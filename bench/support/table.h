#pragma once

#include <string>

namespace halvik::bench {

/// Prints one row of the benchmark table (Markdown): what was measured, the figure, the target
/// and whether it was met. An empty target prints as a dash.
void printRow(const std::string& measure, const std::string& value,
              const std::string& target = std::string(), const std::string& result = std::string());

/// "met" or "missed".
std::string verdict(bool met);
/// The number with this many digits after the point, without the user's locale.
std::string fixed(double value, int decimals);
/// A count with thin grouping (123 456), without the user's locale.
std::string grouped(double value);

} // namespace halvik::bench
