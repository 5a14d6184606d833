#include "timeline.h"

#include <algorithm>
#include <cmath>

Timeline::Timeline(const std::vector<Anchor> &anchors, std::int64_t rows, bool paced) : count(rows)
{
    for (const Anchor &a : anchors) {
        const double s = double(a.ms) / 1000;
        // The session begins with its first row: row 0 is at the first line's
        // time, not spread after it.
        const std::int64_t row = std::max<std::int64_t>(a.rows - 1, 0);
        if (knots.empty() || knots.back().row != row)
            knots.push_back({row, s, s, knots.empty() ? s : -HUGE_VAL});
        knots.back().out = s;
        if (a.floor)
            knots.back().floor = s;
    }
    if (paced)
        pace();
}

void Timeline::pace()
{
    // The usual pace: the median over stretches of a fifth of a second or
    // more, with room to spare.
    std::vector<double> rates;
    for (size_t k = 0; k + 1 < knots.size(); ++k)
        if (knots[k + 1].in - knots[k].out >= 0.2)
            rates.push_back(double(knots[k + 1].row - knots[k].row) /
                            (knots[k + 1].in - knots[k].out));
    if (rates.empty())
        return;
    std::nth_element(rates.begin(), rates.begin() + std::ptrdiff_t(rates.size() / 2), rates.end());
    const double fastest = 1.5 * rates[rates.size() / 2];
    // From the end: rows that came faster start earlier, though not before a
    // floor; then from the start, nothing before what comes before it.
    for (size_t k = knots.size() - 1; k-- > 0;) {
        Knot &a = knots[k];
        const double needed = double(knots[k + 1].row - a.row) / fastest;
        a.out = std::max(std::min(a.out, knots[k + 1].in - needed), a.floor);
        a.in = std::min(a.in, a.out);
    }
    for (size_t k = 1; k < knots.size(); ++k) {
        knots[k - 1].out = std::max(knots[k - 1].out, knots[k - 1].in);
        knots[k].in = std::max(knots[k].in, knots[k - 1].out);
    }
}

double Timeline::between(const Knot &a, const Knot &b, std::int64_t row)
{
    return std::min(b.in, a.out + double(row - a.row) * (b.in - a.out) / double(b.row - a.row));
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
