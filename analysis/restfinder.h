#pragma once

#include "recording.h"
#include "stretches.h"

#include <array>
#include <vector>

// Where a recorded node rested: stretches of at least a few seconds with
// every axis nearly still.
//
// The rows are looked at a quarter of a second at a time. "Still" is
// measured against the recording's own noise: a quarter second is still when
// each column's standard deviation in it is at most three times that
// column's quietest tenth (the tenth percentile over all quarter seconds)
// plus a count. A rest is a run of still quarter seconds within one
// continuous stretch whose means stay within twice that of the run's mean so
// far, lasting at least the minimum. So at least a tenth of the recording
// should be rest.
class RestFinder
{
public:
    struct Rest {
        Stretch rows;
        double start = 0, seconds = 0;                     // from the recording's start
        std::array<double, Recording::columnCount> mean{}; // counts
    };

    // For a recording without a timeline, `rate` rows per second give its
    // times (row / rate).
    RestFinder(const Recording &recording, double rate, double minimumSeconds);

    const std::vector<Rest> &rests() const { return found; }
    // The longest still run that fell short of the minimum (0: none did).
    double longestShort() const { return shortest; }

private:
    std::vector<Rest> found;
    double shortest = 0;
};
