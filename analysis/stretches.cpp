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

double rowsPerSecond(const Recording &recording, const std::vector<Stretch> &stretches)
{
    const Timeline *timeline = recording.timeline();
    if (!timeline)
        return 0;
    double rows = 0, seconds = 0;
    for (const Stretch &s : stretches) {
        rows += double(s.rows() - 1);
        seconds += timeline->seconds(s.end - 1) - timeline->seconds(s.first);
    }
    return seconds > 0 ? rows / seconds : 0;
}
