#include "recordingsource.h"

namespace nodesim
{

std::optional<Sample> RecordingSource::next()
{
    if (row == recording.rows() && loop)
        row = 0;
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

} // namespace nodesim
