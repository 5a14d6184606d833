#pragma once

#include "frameformat.h"

namespace nodesim
{

// Slow sine waves on all six values, 120 degrees apart per axis, so that
// the program's displays and plots move visibly.
class SineSource
{
public:
    // Values whose bytes would reproduce `format`'s framing pattern inside
    // a frame are nudged by a step or two, so that every frame decodes as
    // the frame it is, noise or not.
    explicit SineSource(const FrameFormat &format) : format(format) {}
    Sample next();

private:
    FrameFormat format;
    long index = 0;
};

} // namespace nodesim
