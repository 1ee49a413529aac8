#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

// The value below which `fraction` (0 to 1) of the samples lie, by the nearest-rank method:
// 0 gives the smallest, 1 the largest; 0 for no samples. Any container of doubles with
// random-access iterators (std::vector, QVector).
template <class Samples> double percentile(Samples values, double fraction)
{
    const std::size_t count = std::size_t(values.size());
    if (count == 0)
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(fraction * double(count));
    const std::size_t index = rank < 1 ? 0 : std::size_t(rank) - 1;
    return values[int(std::min(index, count - 1))];
}
