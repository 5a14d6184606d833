#pragma once

#include <cstdint>
#include <functional>
#include <vector>

class Recording;

// A run of rows that came without a gap: first .. end - 1.
struct Stretch {
    std::int64_t first, end;
    std::int64_t rows() const { return end - first; }
    friend bool operator==(const Stretch &a, const Stretch &b)
    {
        return a.first == b.first && a.end == b.end;
    }
};

// The continuous stretches of the rows first .. end - 1 of `recording`, in
// order: a session's rows are parted where its timeline breaks (the receiver
// lost, logging off or failing) and where its source switched; a log file on
// its own is one stretch. None when first >= end; the range is clamped to
// the rows held.
std::vector<Stretch> continuousStretches(const Recording &recording, std::int64_t first,
                                         std::int64_t end);

// Rows per second over the stretches: the rows after each stretch's first
// over the seconds from its first row to its last (as `seconds` gives a
// row's time), summed over all. 0 when no stretch spans any time.
double rowsPerSecond(const std::vector<Stretch> &stretches,
                     const std::function<double(std::int64_t)> &seconds);
// The same with a recording's times; 0 for a recording without a timeline.
double rowsPerSecond(const Recording &recording, const std::vector<Stretch> &stretches);
