#pragma once

#include <vector>

namespace halvik::bench {

/// Nearest-rank percentile (fraction 0..1) of the values; 0 for none.
double percentile(std::vector<double> values, double fraction);
/// The middle value (mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> values);

} // namespace halvik::bench
