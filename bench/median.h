#pragma once

// The median the benchmarks report: robust against the odd slow run on a
// shared machine. NaN when there is nothing to take it of.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return std::nan("");
    }
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}
