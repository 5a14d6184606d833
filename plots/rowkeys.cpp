#include "rowkeys.h"

#include <algorithm>
#include <cmath>
#include <limits>

std::size_t RowKeys::firstFrom(double key, std::size_t rows) const
{
    if (!(key > 0)) // NaN too
        return 0;
    return std::size_t(std::min(std::ceil(key), double(rows)));
}

std::pair<std::size_t, std::size_t> RowKeys::within(double lower, double upper,
                                                    std::size_t rows) const
{
    const std::size_t first = firstFrom(lower, rows);
    const std::size_t end =
        firstFrom(std::nextafter(upper, std::numeric_limits<double>::infinity()), rows);
    return {first, std::max(first, end)};
}
