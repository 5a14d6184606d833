#pragma once

#include "columnextremes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The minimum, maximum, mean, root mean square and standard deviation of
// any run of a column of values, each found without visiting the run: the
// extremes from a ColumnExtremes, the sums from sums of the values and of
// their squares kept at every 64th value (about a fifth of the column's size
// beside it). The column and the extremes must outlive this and stay
// unchanged.
class ColumnStatistics
{
public:
    struct Figures {
        std::int64_t count = 0;
        double min = 0, max = 0, mean = 0, rms = 0, deviation = 0;
    };

    ColumnStatistics(const std::vector<std::int16_t> &values, const ColumnExtremes &extremes);
    // The figures of the values at first .. end - 1 (all 0 when there are
    // none); the deviation is the population's.
    Figures over(std::size_t first, std::size_t end) const;

private:
    const std::vector<std::int16_t> &values;
    const ColumnExtremes &extremes;
    // Of the values before value 64 k, at k.
    std::vector<std::int64_t> sums, squares;
};
