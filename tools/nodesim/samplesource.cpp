#include "samplesource.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

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

bool parseInt(const std::string &text, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0';
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

bool readLogFile(const std::string &path, std::vector<Sample> &samples, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.rfind("indeksi", 0) == 0)
            continue;
        std::vector<long> fields;
        std::stringstream row(line);
        std::string field;
        long value = 0;
        bool numeric = true;
        while (std::getline(row, field, ','))
            if ((numeric = parseInt(field, value)))
                fields.push_back(value);
            else
                break;
        const auto where = path + ":" + std::to_string(lineNumber) + ": ";
        if (!numeric || fields.size() != 7) {
            error = where + "not a row \"index,ax,ay,az,gx,gy,gz\"";
            return false;
        }
        Sample sample;
        for (int axis = 0; axis < 3; ++axis) {
            const long a = fields[1 + axis];
            const long g = fields[4 + axis];
            if (a < -8192 || a > 8191 || g < -32768 || g > 32767) {
                error = where + "value out of range";
                return false;
            }
            sample.acc[axis] = static_cast<int16_t>(a);
            sample.gyro[axis] = static_cast<int16_t>(g);
        }
        samples.push_back(sample);
    }
    return true;
}

} // namespace nodesim
