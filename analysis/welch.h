#pragma once

#include "stretches.h"

#include <cstdint>
#include <vector>

struct fftw_plan_s;

// The power spectral density of a column of values by Welch's method, as
// scipy.signal.welch computes it by default: segments of `length` values
// overlapping by half, each segment's mean removed, a periodic Hann window,
// one-sided, scaled as a density (its sum times the frequency step is the
// variance of the data), the mean over all segments. No segment crosses from
// one stretch into another; the values after a stretch's last whole segment
// are left out, as scipy leaves them.
//
// The transforms are FFTW's, one plan per length made once in the process
// and reused (planning is serialised; computing densities with one Welch
// from several threads at once is safe).
class Welch
{
public:
    static constexpr int shortest = 64, longest = 65536;
    // The default length gives at least this many segments.
    static constexpr int fewestSegments = 8;

    // The segments that `length` gives over the stretches.
    static std::int64_t segmentsIn(const std::vector<Stretch> &stretches, int length);
    // The largest power of two from shortest to longest that gives at least
    // fewestSegments segments; shortest when none does.
    static int defaultLength(const std::vector<Stretch> &stretches);

    // `length` is a power of two from 2 on.
    explicit Welch(int length);
    int length() const { return n; }
    // The frequencies 0, rate / length, ..., rate / 2.
    int bins() const { return n / 2 + 1; }

    // The density of values[first .. end - 1] of each stretch, at `rate`
    // values per second (or per any unit: the density is per cycle of it):
    // bins() figures in the values' units squared per hertz. Empty when no
    // stretch holds a whole segment.
    std::vector<double> density(const std::int16_t *values, const std::vector<Stretch> &stretches,
                                double rate) const;

private:
    int n;
    std::vector<double> window;
    double windowPower; // the sum of the window's squares
    fftw_plan_s *plan;
};
