#include "table.h"

#include <cmath>
#include <iostream>
#include <locale>
#include <sstream>

namespace halvik::bench {

void printRow(const std::string& measure, const std::string& value, const std::string& target,
              const std::string& result)
{
    std::cout << "| " << measure << " | " << value << " | " << (target.empty() ? "-" : target)
              << " | " << (result.empty() ? "-" : result) << " |" << std::endl;
}

std::string verdict(bool met)
{
    return met ? "met" : "missed";
}

std::string fixed(double value, int decimals)
{
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.setf(std::ios::fixed);
    out.precision(decimals);
    out << value;
    return out.str();
}

std::string grouped(double value)
{
    std::string digits = fixed(std::round(value), 0);
    const std::size_t start = digits[0] == '-' ? 1 : 0;
    for (std::size_t i = digits.size(); i > start + 3; i -= 3) {
        digits.insert(i - 3, " ");
    }
    return digits;
}

} // namespace halvik::bench
