#pragma once

#include "frameformat.h"
#include "recording.h"

#include <cstdint>
#include <optional>

namespace nodesim
{

// The samples of a recording in file order: once through, or over and over.
// A session's rows are also due at their times (its Timeline), `speed`
// times faster; a loop begins again one row's usual interval after the
// last row. The recording must outlive the source.
class RecordingSource
{
public:
    RecordingSource(const Recording &recording, bool loop, double speed = 1)
        : recording(recording), loop(loop), speed(speed)
    {
    }
    // The next sample; none once a single pass is through (or the recording
    // is empty).
    std::optional<Sample> next();
    // For a session: when the sample that next() gives next is due, in
    // seconds after the first.
    double seconds() const;

private:
    const Recording &recording;
    bool loop;
    double speed;
    std::int64_t row = 0;
    std::int64_t passes = 0; // completed
};

} // namespace nodesim
