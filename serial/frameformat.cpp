#include "frameformat.h"

namespace
{

constexpr int gyroOffset[3] = {15, 130, -313};

int16_t wrapped(int value)
{
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

void appendFraming(std::vector<uint8_t> &out, int value)
{
    if (value != FrameFormat::off)
        out.push_back(static_cast<uint8_t>(value));
}

} // namespace

FrameFormat FrameFormat::fromOptionArray(const int *optionFrame)
{
    FrameFormat f;
    f.dataBytes = optionFrame[DataBytesIndex];
    f.startByte1 = optionFrame[StartByte1Index];
    f.startByte2 = optionFrame[StartByte2Index];
    f.endByte1 = optionFrame[EndByte1Index];
    f.endByte2 = optionFrame[EndByte2Index];
    f.slot1Type = optionFrame[Sensor1TypeIndex];
    f.slot2Type = optionFrame[Sensor2TypeIndex];
    return f;
}

OptionArray FrameFormat::toOptionArray(int sensor1Bytes, int sensor2Bytes) const
{
    return {dataBytes, startByte1, startByte2,   endByte1,    endByte2,
            slot1Type, slot2Type,  sensor1Bytes, sensor2Bytes};
}

long long FrameFormat::length() const
{
    return static_cast<long long>(dataBytes) + startCount() + (endByte1 != off) + (endByte2 != off);
}

bool FrameFormat::isFramingValue(uint8_t byte) const
{
    for (int value : {startByte1, startByte2, endByte1, endByte2})
        if (value != off && value == byte)
            return true;
    return false;
}

bool FrameFormat::framingMatches(const uint8_t *first) const
{
    // Values are compared as ints, so a value outside 0-255 never matches.
    const uint8_t *head = first;
    if (startByte1 != off && *head++ != startByte1)
        return false;
    if (startByte2 != off && *head != startByte2)
        return false;
    const uint8_t *tail = first + length() - 1;
    if (endByte2 != off && *tail-- != endByte2)
        return false;
    return endByte1 == off || *tail == endByte1;
}

void FrameFormat::appendWords(std::vector<uint8_t> &out, const std::array<int16_t, 6> &words) const
{
    appendFraming(out, startByte1);
    appendFraming(out, startByte2);
    for (int k = 0; k < dataBytes; ++k) {
        const auto word = k < 12 ? static_cast<uint16_t>(words[k / 2]) : 0;
        out.push_back(static_cast<uint8_t>(k % 2 == 0 ? word >> 8 : word & 0xFF));
    }
    appendFraming(out, endByte1);
    appendFraming(out, endByte2);
}

void FrameFormat::append(std::vector<uint8_t> &out, const Sample &sample) const
{
    std::array<int16_t, 6> words{};
    const int types[2] = {slot1Type, slot2Type};
    for (int slot = 0; slot < 2; ++slot)
        for (int axis = 0; axis < 3; ++axis) {
            if (types[slot] == sensor::gyroscope)
                words[3 * slot + axis] = gyroscopeWord(axis, sample.gyro[axis]);
            else if (types[slot] == sensor::accelerometer)
                words[3 * slot + axis] = accelerometerWord(sample.acc[axis]);
        }
    appendWords(out, words);
}

std::vector<uint8_t> FrameFormat::encode(const Sample &sample) const
{
    std::vector<uint8_t> frame;
    append(frame, sample);
    return frame;
}

int16_t gyroscopeValue(int axis, int16_t word)
{
    return wrapped(word + gyroOffset[axis]);
}

int16_t gyroscopeWord(int axis, int16_t value)
{
    return wrapped(value - gyroOffset[axis]);
}

int16_t accelerometerWord(int16_t count)
{
    return wrapped(static_cast<uint16_t>(count) << 2);
}
