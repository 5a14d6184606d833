#pragma once

#include <algorithm>
#include <limits>

// The minimum and maximum of a run of values, as the plots keep them per
// block of points to draw a dense pixel column through its extremes.
// Merging compares what comes with what is held (std::min and std::max, in
// that order), so a NaN that comes is passed over and one held stays.
template <class T> struct Extremes {
    T min;
    T max;

    // The extremes of no value: merged with anything, it gives that (the
    // infinities for floating-point types, the type's bounds otherwise).
    static constexpr Extremes none()
    {
        using limits = std::numeric_limits<T>;
        return {limits::has_infinity ? limits::infinity() : limits::max(),
                limits::has_infinity ? -limits::infinity() : limits::lowest()};
    }
    static constexpr Extremes of(T value) { return {value, value}; }

    void merge(T value) { merge(of(value)); }
    void merge(const Extremes &other)
    {
        min = std::min(min, other.min);
        max = std::max(max, other.max);
    }
};
