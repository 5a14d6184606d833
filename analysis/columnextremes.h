#pragma once

#include "extremes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The minimum and maximum of any run of a column of values, found in
// logarithmic time: a pyramid of block extremes (blocks of 16 values, then
// blocks of 16 blocks, and so on) holds about a quarter of the column's
// size beside it. The column must outlive this and stay unchanged.
class ColumnExtremes
{
public:
    explicit ColumnExtremes(const std::vector<std::int16_t> &values);
    // Extremes of the values at first .. end - 1; first < end <= size.
    Extremes<std::int16_t> over(std::size_t first, std::size_t end) const;

private:
    const std::vector<std::int16_t> &values;
    // levels[0] holds the extremes of each block of values, levels[k] those
    // of each block of levels[k - 1]; a last block may be short.
    std::vector<std::vector<Extremes<std::int16_t>>> levels;
};
