#include "recordingsource.h"

#include <algorithm>

namespace nodesim
{

std::optional<Sample> RecordingSource::next()
{
    if (row == recording.rows() && loop) {
        row = 0;
        ++passes;
    }
    if (row == recording.rows())
        return std::nullopt;
    Sample s;
    for (int axis = 0; axis < 3; ++axis) {
        s.acc[size_t(axis)] = recording.column(Recording::AccX + axis)[size_t(row)];
        s.gyro[size_t(axis)] = recording.column(Recording::GyroX + axis)[size_t(row)];
    }
    ++row;
    return s;
}

double RecordingSource::seconds() const
{
    const Timeline *time = recording.timeline();
    const std::int64_t rows = recording.rows();
    if (!time || rows == 0)
        return 0;
    const bool wraps = row == rows && loop;
    const double last = time->seconds(rows - 1);
    const double pass = last + (rows > 1 ? last / double(rows - 1) : 1);
    return (time->seconds(wraps ? 0 : std::min(row, rows - 1)) + double(passes + wraps) * pass) /
           speed;
}

} // namespace nodesim
