#include "columnextremes.h"

#include <algorithm>
#include <limits>

namespace
{

constexpr std::size_t fan = 16;

void merge(ColumnExtremes::Range &into, const ColumnExtremes::Range &r)
{
    into.min = std::min(into.min, r.min);
    into.max = std::max(into.max, r.max);
}

} // namespace

ColumnExtremes::ColumnExtremes(const std::vector<std::int16_t> &values) : values(values)
{
    std::vector<Range> blocks((values.size() + fan - 1) / fan);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto first = values.begin() + std::ptrdiff_t(b * fan);
        const auto [min, max] = std::minmax_element(
            first, values.begin() + std::ptrdiff_t(std::min(values.size(), (b + 1) * fan)));
        blocks[b] = {*min, *max};
    }
    levels.push_back(std::move(blocks));
    // A query climbs only while its run spans more than two blocks.
    while (levels.back().size() > 2 * fan) {
        const std::vector<Range> &below = levels.back();
        std::vector<Range> above((below.size() + fan - 1) / fan, Range{below[0].max, below[0].min});
        for (std::size_t i = 0; i < below.size(); ++i) {
            if (i % fan == 0)
                above[i / fan] = below[i];
            else
                merge(above[i / fan], below[i]);
        }
        levels.push_back(std::move(above));
    }
}

ColumnExtremes::Range ColumnExtremes::over(std::size_t first, std::size_t end) const
{
    Range e{std::numeric_limits<std::int16_t>::max(), std::numeric_limits<std::int16_t>::min()};
    // Level -1 is the column itself.
    const auto take = [&](int level, std::size_t a, std::size_t b) {
        for (; a < b; ++a)
            merge(e, level < 0 ? Range{values[a], values[a]} : levels[std::size_t(level)][a]);
    };
    for (int level = -1;; ++level) {
        if (end - first <= 2 * fan || level + 1 == int(levels.size())) {
            take(level, first, end);
            return e;
        }
        // The ragged ends here, the whole blocks between them one level up.
        const std::size_t up = (first + fan - 1) / fan, down = end / fan;
        take(level, first, up * fan);
        take(level, down * fan, end);
        first = up;
        end = down;
    }
}
