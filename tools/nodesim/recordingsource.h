#pragma once

#include "frameformat.h"
#include "recording.h"

#include <cstdint>
#include <optional>

namespace nodesim
{

// The samples of a recording in file order: once through, or over and over.
// The recording must outlive the source.
class RecordingSource
{
public:
    RecordingSource(const Recording &recording, bool loop) : recording(recording), loop(loop) {}
    // The next sample; none once a single pass is through (or the recording
    // is empty).
    std::optional<Sample> next();

private:
    const Recording &recording;
    bool loop;
    std::int64_t row = 0;
};

} // namespace nodesim
