#include "stretches.h"

#include "recording.h"

#include <algorithm>
#include <cmath>

std::vector<Stretch> continuousStretches(const Recording &recording, std::int64_t first,
                                         std::int64_t end)
{
    first = std::max<std::int64_t>(first, 0);
    end = std::min(end, recording.rows());
    std::vector<Stretch> stretches;
    if (first >= end)
        return stretches;
    std::vector<std::int64_t> parts;
    if (const Timeline *timeline = recording.timeline()) {
        parts = timeline->breaks;
        // A switch of source comes with a new log file, not with a break; the
        // rows at its time came before it.
        for (const Timeline::Event &e : timeline->events)
            if (e.kind == Timeline::Event::Source)
                parts.push_back(timeline->firstRowFrom(std::nextafter(e.seconds, HUGE_VAL)));
        std::sort(parts.begin(), parts.end());
    }
    std::int64_t from = first;
    for (const std::int64_t p : parts)
        if (p > from && p < end) {
            stretches.push_back({from, p});
            from = p;
        }
    stretches.push_back({from, end});
    return stretches;
}

double rowsPerSecond(const std::vector<Stretch> &stretches,
                     const std::function<double(std::int64_t)> &seconds)
{
    double rows = 0, spanned = 0;
    for (const Stretch &s : stretches) {
        rows += double(s.rows() - 1);
        spanned += seconds(s.end - 1) - seconds(s.first);
    }
    return spanned > 0 ? rows / spanned : 0;
}

double rowsPerSecond(const Recording &recording, const std::vector<Stretch> &stretches)
{
    const Timeline *timeline = recording.timeline();
    return timeline ? rowsPerSecond(stretches,
                                    [timeline](std::int64_t row) { return timeline->seconds(row); })
                    : 0;
}
