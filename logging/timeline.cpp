#include "timeline.h"

#include <algorithm>
#include <cmath>

Timeline::Timeline(const std::vector<Anchor> &anchors, std::int64_t rows) : count(rows)
{
    for (const Anchor &a : anchors) {
        const double s = double(a.ms) / 1000;
        // The session begins with its first row: row 0 is at the first line's
        // time, not spread after it.
        const std::int64_t row = std::max<std::int64_t>(a.rows - 1, 0);
        if (!knots.empty() && knots.back().row == row)
            knots.back().out = s;
        else
            knots.push_back({row, s, s});
    }
}

double Timeline::between(const Knot &a, const Knot &b, std::int64_t row)
{
    return a.out + double(row - a.row) * (b.in - a.out) / double(b.row - a.row);
}

double Timeline::seconds(std::int64_t row) const
{
    const auto b = std::lower_bound(knots.begin(), knots.end(), row,
                                    [](const Knot &k, std::int64_t r) { return k.row < r; });
    if (b == knots.end())
        return knots.empty() ? 0 : knots.back().out;
    if (b->row == row || b == knots.begin())
        return b->in;
    return between(b[-1], *b, row);
}

std::int64_t Timeline::firstRowFrom(double s) const
{
    const auto b = std::lower_bound(knots.begin(), knots.end(), s,
                                    [](const Knot &k, double t) { return k.in < t; });
    if (b == knots.end())
        return count;
    if (b == knots.begin())
        return std::clamp<std::int64_t>(b->row, 0, count);
    // Row a.row comes before s; the rows after it rise to b.in >= s.
    const Knot &a = b[-1];
    const std::int64_t span = b->row - a.row;
    std::int64_t k = 1;
    if (a.out < s) {
        k = std::clamp<std::int64_t>(
            std::int64_t(std::ceil((s - a.out) * double(span) / (b->in - a.out))), 1, span);
        // The division may round either way.
        while (k > 1 && between(a, *b, a.row + k - 1) >= s)
            --k;
        while (k < span && between(a, *b, a.row + k) < s)
            ++k;
    }
    return std::min(a.row + k, count);
}
