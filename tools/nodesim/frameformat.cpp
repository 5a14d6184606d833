#include "frameformat.h"

namespace nodesim
{

namespace
{
// What the program adds to the gyroscope words, X, Y and Z.
constexpr int gyroOffset[3] = {15, 130, -313};

void appendFraming(std::vector<uint8_t> &out, int value)
{
    if (value != off)
        out.push_back(static_cast<uint8_t>(value));
}
} // namespace

bool FrameFormat::isFramingValue(uint8_t byte) const
{
    for (int value : {startByte1, startByte2, endByte1, endByte2})
        if (value != off && value == byte)
            return true;
    return false;
}

std::array<int, 9> FrameFormat::optionArray() const
{
    return {dataBytes, startByte1, startByte2, endByte1, endByte2, slot1Type, slot2Type, 6, 6};
}

FrameFormat FrameFormat::fromOptionArray(const int *options)
{
    FrameFormat format;
    format.dataBytes = options[0];
    format.startByte1 = options[1];
    format.startByte2 = options[2];
    format.endByte1 = options[3];
    format.endByte2 = options[4];
    format.slot1Type = options[5];
    format.slot2Type = options[6];
    return format;
}

int16_t accelerometerWord(int16_t count)
{
    return static_cast<int16_t>(static_cast<uint16_t>(count) << 2);
}

int16_t gyroscopeWord(int axis, int16_t value)
{
    return static_cast<int16_t>(static_cast<uint16_t>(value - gyroOffset[axis]));
}

std::array<int16_t, 6> dataWords(const Sample &sample, const FrameFormat &format)
{
    std::array<int16_t, 6> words{};
    const int types[2] = {format.slot1Type, format.slot2Type};
    for (int slot = 0; slot < 2; ++slot)
        for (int axis = 0; axis < 3; ++axis) {
            int16_t &word = words[3 * slot + axis];
            if (types[slot] == gyroscope)
                word = gyroscopeWord(axis, sample.gyro[axis]);
            else if (types[slot] == accelerometer)
                word = accelerometerWord(sample.acc[axis]);
        }
    return words;
}

void appendWords(std::vector<uint8_t> &out, const std::array<int16_t, 6> &words,
                 const FrameFormat &format)
{
    appendFraming(out, format.startByte1);
    appendFraming(out, format.startByte2);
    for (int k = 0; k < format.dataBytes; ++k) {
        uint8_t byte = 0;
        if (k < 12) {
            const auto word = static_cast<uint16_t>(words[k / 2]);
            byte = static_cast<uint8_t>(k % 2 == 0 ? word >> 8 : word & 0xFF);
        }
        out.push_back(byte);
    }
    appendFraming(out, format.endByte1);
    appendFraming(out, format.endByte2);
}

void appendFrame(std::vector<uint8_t> &out, const Sample &sample, const FrameFormat &format)
{
    appendWords(out, dataWords(sample, format), format);
}

std::vector<uint8_t> encodeFrame(const Sample &sample, const FrameFormat &format)
{
    std::vector<uint8_t> frame;
    frame.reserve(format.length());
    appendFrame(frame, sample, format);
    return frame;
}

} // namespace nodesim
