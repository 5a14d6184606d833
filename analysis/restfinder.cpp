#include "restfinder.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr int columns = Recording::columnCount;
constexpr double windowSeconds = 0.25;

struct Window {
    std::int64_t first, end;
    std::array<double, columns> mean, deviation;
};

} // namespace

RestFinder::RestFinder(const Recording &recording, double rate, double minimumSeconds)
{
    const Timeline *timeline = recording.timeline();
    const std::vector<Stretch> stretches = continuousStretches(recording, 0, recording.rows());
    if (timeline)
        rate = rowsPerSecond(recording, stretches);
    if (!(rate > 0))
        return;
    const auto seconds = [&](std::int64_t row) {
        return timeline ? timeline->seconds(row) : double(row) / rate;
    };
    const std::int64_t size = std::max<std::int64_t>(8, std::llround(rate * windowSeconds));
    // Each stretch's windows, and the marks where a stretch ends.
    std::vector<Window> windows;
    std::vector<bool> lastOfStretch;
    for (const Stretch &s : stretches)
        for (std::int64_t a = s.first; a + size <= s.end; a += size) {
            Window w{a, a + size, {}, {}};
            for (int c = 0; c < columns; ++c) {
                const std::int16_t *x = recording.column(c).data();
                double sum = 0, squares = 0;
                for (std::int64_t r = a; r < a + size; ++r) {
                    sum += x[r];
                    squares += double(x[r]) * x[r];
                }
                w.mean[c] = sum / double(size);
                w.deviation[c] =
                    std::sqrt(std::max(0.0, squares / double(size) - w.mean[c] * w.mean[c]));
            }
            windows.push_back(w);
            lastOfStretch.push_back(a + 2 * size > s.end);
        }
    if (windows.empty())
        return;
    std::array<double, columns> tolerance;
    for (int c = 0; c < columns; ++c) {
        std::vector<double> d;
        for (const Window &w : windows)
            d.push_back(w.deviation[c]);
        std::nth_element(d.begin(), d.begin() + std::ptrdiff_t(d.size() / 10), d.end());
        tolerance[c] = 3 * d[d.size() / 10] + 1;
    }
    const auto still = [&](const Window &w) {
        for (int c = 0; c < columns; ++c)
            if (w.deviation[c] > tolerance[c])
                return false;
        return true;
    };

    // A run of still windows; its means summed, to see where it drifts away.
    std::int64_t runFirst = -1, runEnd = -1, runWindows = 0;
    std::array<double, columns> sums{};
    const auto close = [&] {
        if (runWindows == 0)
            return;
        const double from = seconds(runFirst), length = seconds(runEnd - 1) - from;
        if (length >= minimumSeconds) {
            Rest rest{{runFirst, runEnd}, from, length, {}};
            for (int c = 0; c < columns; ++c) {
                double sum = 0;
                for (std::int64_t r = runFirst; r < runEnd; ++r)
                    sum += recording.column(c)[std::size_t(r)];
                rest.mean[c] = sum / double(runEnd - runFirst);
            }
            found.push_back(rest);
        } else {
            shortest = std::max(shortest, length);
        }
        runWindows = 0;
    };
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const Window &w = windows[i];
        bool joins = still(w) && runWindows > 0 && w.first == runEnd;
        for (int c = 0; joins && c < columns; ++c)
            joins = std::abs(w.mean[c] - sums[c] / double(runWindows)) <= 2 * tolerance[c];
        if (!joins)
            close();
        if (still(w)) {
            if (runWindows == 0) {
                runFirst = w.first;
                sums = {};
            }
            runEnd = w.end;
            ++runWindows;
            for (int c = 0; c < columns; ++c)
                sums[c] += w.mean[c];
        }
        if (lastOfStretch[i])
            close();
    }
    close();
}
