#pragma once

#include "frameformat.h"

#include <string>
#include <vector>

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

// Reads a log file that Motion Monitor wrote: header lines (also repeated
// ones, when a file was appended to) and rows "index,ax,ay,az,gx,gy,gz".
// Returns false with `error` naming the file and line when a row does not
// parse or a value lies outside what the program can log.
bool readLogFile(const std::string &path, std::vector<Sample> &samples, std::string &error);

// True when a data byte of `sample`'s frame equals a framing byte value.
bool touchesFraming(const Sample &sample, const FrameFormat &format);

} // namespace nodesim
