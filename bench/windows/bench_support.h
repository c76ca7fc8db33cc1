#pragma once
// What the Windows benchmarks share: a clock, their options, medians, and how holders are
// picked from a load.

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace vesperlin::bench {

// Milliseconds on the performance counter.
inline double Now() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The number after `name` on the command line, or `fallback`.
inline int Option(int argc, char** argv, const char* name, int fallback) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0) return std::atoi(argv[i + 1]);
    return fallback;
}

// The middle value; of an even count, the mean of the two middle ones. Not for an empty list.
inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Whether process `p` of `processes` is one of `count` spread evenly from `offset` on.
inline bool Picked(int p, int processes, int count, int offset) {
    for (int k = 0; k < count; ++k)
        if ((k * processes / count + offset) % processes == p) return true;
    return false;
}

}  // namespace vesperlin::bench
