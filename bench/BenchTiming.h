#pragma once
// Timing shared by the benchmark programs: the program's millisecond clock
// and the median of a set of measurements.
#include <windows.h>

#include "common/QVSystem.h"

#include <algorithm>
#include <vector>

namespace bench {

using qv::NowMs;

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    if (n == 0) return 0;
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace bench
