#pragma once

#include "frameformat.h"

namespace nodesim
{

// Slow sine waves on all six values, 120 degrees apart per axis, so that
// the program's displays and plots move visibly.
class SineSource
{
public:
    // Values are nudged off any byte pattern that `format` uses for framing,
    // so that no data byte can be taken for a framing byte and every frame
    // decodes as the frame it is, noise or not.
    explicit SineSource(const FrameFormat &format) : format(format) {}
    Sample next();

private:
    FrameFormat format;
    long index = 0;
};

// True when a data byte of `sample`'s frame equals a framing byte value.
bool touchesFraming(const Sample &sample, const FrameFormat &format);

} // namespace nodesim
