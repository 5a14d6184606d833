#include "columnextremes.h"

#include <algorithm>

namespace
{

constexpr std::size_t fan = 16;

} // namespace

ColumnExtremes::ColumnExtremes(const std::vector<std::int16_t> &values) : values(values)
{
    std::vector<Extremes<std::int16_t>> blocks((values.size() + fan - 1) / fan);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const auto first = values.begin() + std::ptrdiff_t(b * fan);
        const auto [min, max] = std::minmax_element(
            first, values.begin() + std::ptrdiff_t(std::min(values.size(), (b + 1) * fan)));
        blocks[b] = {*min, *max};
    }
    levels.push_back(std::move(blocks));
    // A query climbs only while its run spans more than two blocks.
    while (levels.back().size() > 2 * fan) {
        const std::vector<Extremes<std::int16_t>> &below = levels.back();
        std::vector<Extremes<std::int16_t>> above((below.size() + fan - 1) / fan,
                                                  Extremes<std::int16_t>::none());
        for (std::size_t i = 0; i < below.size(); ++i)
            above[i / fan].merge(below[i]);
        levels.push_back(std::move(above));
    }
}

Extremes<std::int16_t> ColumnExtremes::over(std::size_t first, std::size_t end) const
{
    auto e = Extremes<std::int16_t>::none();
    // Level -1 is the column itself.
    const auto take = [&](int level, std::size_t a, std::size_t b) {
        for (; a < b; ++a) {
            if (level < 0)
                e.merge(values[a]);
            else
                e.merge(levels[std::size_t(level)][a]);
        }
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
