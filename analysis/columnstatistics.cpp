#include "columnstatistics.h"

#include <cmath>

namespace
{

constexpr std::size_t block = 64;

} // namespace

ColumnStatistics::ColumnStatistics(const std::vector<std::int16_t> &values,
                                   const ColumnExtremes &extremes)
    : values(values), extremes(extremes)
{
    const std::size_t blocks = values.size() / block + 1;
    sums.reserve(blocks);
    squares.reserve(blocks);
    std::int64_t sum = 0, square = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i % block == 0) {
            sums.push_back(sum);
            squares.push_back(square);
        }
        sum += values[i];
        square += std::int64_t(values[i]) * values[i];
    }
    if (values.size() % block == 0) {
        sums.push_back(sum);
        squares.push_back(square);
    }
}

ColumnStatistics::Figures ColumnStatistics::over(std::size_t first, std::size_t end) const
{
    Figures f;
    if (first >= end)
        return f;
    // The sums of the values before a position: whole blocks, then the rest.
    const auto before = [this](std::size_t at, std::int64_t *sum, std::int64_t *square) {
        const std::size_t k = at / block;
        *sum = sums[k];
        *square = squares[k];
        for (std::size_t i = k * block; i < at; ++i) {
            *sum += values[i];
            *square += std::int64_t(values[i]) * values[i];
        }
    };
    std::int64_t s0, q0, s1, q1;
    before(first, &s0, &q0);
    before(end, &s1, &q1);
    const std::int64_t n = std::int64_t(end - first), sum = s1 - s0, square = q1 - q0;
    const Extremes<std::int16_t> e = extremes.over(first, end);
    f.count = n;
    f.min = e.min;
    f.max = e.max;
    f.mean = double(sum) / double(n);
    f.rms = std::sqrt(double(square) / double(n));
    // n² times the variance, exactly: n Σx² - (Σx)².
    const __int128 spread = __int128(n) * square - __int128(sum) * sum;
    f.deviation = std::sqrt(double(spread)) / double(n);
    return f;
}
