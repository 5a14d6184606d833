#include "sinesource.h"

#include <cmath>

namespace nodesim
{

namespace
{

constexpr double pi = 3.14159265358979323846;

bool wordTouchesFraming(int16_t word, const FrameFormat &format)
{
    const auto raw = static_cast<uint16_t>(word);
    return format.isFramingValue(raw >> 8) || format.isFramingValue(raw & 0xFF);
}

// Moves each value up until its raw word shows no framing value. Four
// framing values leave plenty of clear words within a few steps.
void avoidFraming(Sample &sample, const FrameFormat &format)
{
    for (int type : {format.slot1Type, format.slot2Type})
        for (int axis = 0; axis < 3; ++axis)
            for (int tries = 0; tries < 1024; ++tries) {
                if (type == gyroscope) {
                    if (!wordTouchesFraming(gyroscopeWord(axis, sample.gyro[axis]), format))
                        break;
                    sample.gyro[axis] = static_cast<int16_t>(sample.gyro[axis] + 1);
                } else if (type == accelerometer) {
                    if (!wordTouchesFraming(accelerometerWord(sample.acc[axis]), format))
                        break;
                    sample.acc[axis] = static_cast<int16_t>(sample.acc[axis] + 1);
                } else {
                    break;
                }
            }
}

} // namespace

bool touchesFraming(const Sample &sample, const FrameFormat &format)
{
    for (int16_t word : dataWords(sample, format))
        if (wordTouchesFraming(word, format))
            return true;
    return false;
}

Sample SineSource::next()
{
    Sample sample;
    const double t = static_cast<double>(index++);
    for (int axis = 0; axis < 3; ++axis) {
        const double phase = axis * 2.0 * pi / 3.0;
        sample.acc[axis] = static_cast<int16_t>(std::lround(2000.0 * std::sin(t / 16.0 + phase)));
        sample.gyro[axis] = static_cast<int16_t>(std::lround(600.0 * std::cos(t / 11.0 + phase)));
    }
    avoidFraming(sample, format);
    return sample;
}

} // namespace nodesim
