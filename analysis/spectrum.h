#pragma once

#include "calibration.h"
#include "recording.h"
#include "stretches.h"

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

// The power spectral density of each column over a range of a recording's
// rows (see Welch), at the recording's own rate, without crossing a gap.
struct Spectrum {
    // Rows per second; 0 when none is known: frequencies are then in cycles
    // per row.
    double rate = 0;
    int length = 0; // rows in a segment
    std::int64_t segments = 0;
    // The stretches in the range, and those shorter than a segment, which
    // are left out, with their rows and seconds.
    int stretches = 0, shortStretches = 0;
    std::int64_t shortRows = 0;
    double shortSeconds = 0;
    // For each column, length / 2 + 1 densities from 0 Hz up in steps of
    // step(): in the calibration's unit squared per hertz for a calibrated
    // column, otherwise in counts squared (per hertz, or per cycle per row).
    // Empty when no stretch holds a whole segment.
    std::array<std::vector<double>, Recording::columnCount> density;

    bool empty() const { return segments == 0; }
    double step() const { return (rate > 0 ? rate : 1) / length; }
    double frequency(std::size_t bin) const { return double(bin) * step(); }
    // The bin of the column's largest density above 0 Hz (the first when
    // several are as large); 0 when it is empty.
    std::size_t peak(int column) const;

    // Writes the spectrum as CSV: a header line "frequency_hz" (or
    // "cycles_per_row" without a rate) and each column's name as the
    // calibration names it, then one line per frequency, each figure as
    // short as it can be while reading back the same. False with *error
    // naming the file and the reason when it cannot be written.
    bool writeCsv(const QString &path, const Calibration &calibration, QString *error) const;

    // The spectrum of the rows first .. end - 1 of `recording`, in segments of
    // `length` rows (0: Welch::defaultLength of the range's stretches). The
    // rate is a session's rows per second over the range's stretches; for a
    // log file on its own, `givenRate` (0: cycles per row).
    static Spectrum of(const Recording &recording, std::int64_t first, std::int64_t end, int length,
                       double givenRate, const Calibration &calibration);
    // The same of columns held elsewhere (each with the rows the stretches
    // name), at `rate` rows per second (0: none), with `seconds` giving a
    // row's time (for what is left out; may be empty).
    using Columns = std::array<const std::int16_t *, Recording::columnCount>;
    static Spectrum of(const Columns &columns, std::vector<Stretch> stretches, double rate,
                       int length, const Calibration &calibration,
                       const std::function<double(std::int64_t)> &seconds = {});
};
