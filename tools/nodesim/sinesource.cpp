#include "sinesource.h"

#include <cmath>
#include <utility>

namespace nodesim
{

namespace
{

constexpr double pi = 3.14159265358979323846;

// The position in `frame` of a byte before its last at which the program's
// search, which tries every received byte as the last of a frame, would
// already find one; -1 when there is none. Bytes held in front of the frame
// (noise, or the tail of a frame joined midway) never equal a framing value,
// so a framing place that falls in front of the frame cannot match.
int earlyMatch(const std::vector<uint8_t> &frame, const FrameFormat &format)
{
    const int length = static_cast<int>(frame.size());
    for (int end = 0; end + 1 < length; ++end) {
        const int first = end - length + 1;
        const int places[4][2] = {
            {format.startByte1, first},
            {format.startByte2, format.startByte1 != FrameFormat::off ? first + 1 : first},
            {format.endByte1, format.endByte2 != FrameFormat::off ? end - 1 : end},
            {format.endByte2, end},
        };
        bool match = true;
        for (const auto &place : places)
            if (place[0] != FrameFormat::off && (place[1] < 0 || frame[place[1]] != place[0]))
                match = false;
        if (match)
            return end;
    }
    return -1;
}

// Moves a value of the data word at frame position `pos` up by one step;
// false when no sample value lies there.
bool nudge(Sample &sample, int pos, const FrameFormat &format)
{
    const int dataByte = pos - format.startCount();
    if (dataByte < 0 || dataByte >= format.dataBytes || dataByte >= 12)
        return false;
    const int word = dataByte / 2;
    const int type = word < 3 ? format.slot1Type : format.slot2Type;
    auto &values = type == sensor::gyroscope ? sample.gyro : sample.acc;
    if (type != sensor::gyroscope && type != sensor::accelerometer)
        return false;
    values[word % 3] = static_cast<int16_t>(values[word % 3] + 1);
    return true;
}

// Nudges values until no byte of the frame but its last can end a frame, so
// every frame decodes as the frame it is, noise or not. Most values are never
// touched: only data bytes that reproduce the framing pattern are.
void avoidEarlyMatches(Sample &sample, const FrameFormat &format)
{
    for (int tries = 0; tries < 1024; ++tries) {
        const int end = earlyMatch(format.encode(sample), format);
        if (end < 0)
            return;
        // A word's low byte changes with a single step, its high byte only
        // after up to 256: nudge through the low byte where one matches.
        int first = end, second = format.endByte2 != FrameFormat::off ? end - 1 : end;
        if ((first - format.startCount()) % 2 == 0)
            std::swap(first, second);
        if (!nudge(sample, first, format) && !nudge(sample, second, format))
            return; // the framing bytes alone match early: nothing to change
    }
}

} // namespace

Sample SineSource::next()
{
    Sample sample;
    const double t = static_cast<double>(index++);
    for (int axis = 0; axis < 3; ++axis) {
        const double phase = axis * 2.0 * pi / 3.0;
        // Inside the program's default plot ranges (-150 to 1100 and -500 to 500).
        sample.acc[axis] =
            static_cast<int16_t>(std::lround(475.0 + 500.0 * std::sin(t / 16.0 + phase)));
        sample.gyro[axis] = static_cast<int16_t>(std::lround(400.0 * std::cos(t / 11.0 + phase)));
    }
    avoidEarlyMatches(sample, format);
    return sample;
}

} // namespace nodesim
