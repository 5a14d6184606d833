#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace nodesim
{

// Sensor type codes, as in the program's option array.
constexpr int gyroscope = 0;
constexpr int accelerometer = 1;
constexpr int noSensor = -1;
// Marks a framing byte that is switched off.
constexpr int off = -1;

// One sample as Motion Monitor shows and logs it: accelerometer counts
// (-8192..8191) and gyroscope values with the program's offsets applied.
struct Sample {
    std::array<int16_t, 3> acc{};
    std::array<int16_t, 3> gyro{};
    bool operator==(const Sample &other) const { return acc == other.acc && gyro == other.gyro; }
    bool operator!=(const Sample &other) const { return !(*this == other); }
};

// The layout of a frame: optional start bytes, data bytes (slot 1 in data
// bytes 0-5, slot 2 in 6-11, three big-endian words each), optional end bytes.
struct FrameFormat {
    int dataBytes = 12;
    int startByte1 = off;
    int startByte2 = off;
    int endByte1 = 55;
    int endByte2 = 1;
    int slot1Type = gyroscope;
    int slot2Type = accelerometer;

    int startCount() const { return (startByte1 != off) + (startByte2 != off); }
    int length() const { return dataBytes + startCount() + (endByte1 != off) + (endByte2 != off); }
    // True when `byte` equals a framing byte that is switched on.
    bool isFramingValue(uint8_t byte) const;
    // The program's nine-entry option array for this layout (sensor byte
    // counts 6 and 6).
    std::array<int, 9> optionArray() const;
    static FrameFormat fromOptionArray(const int *options);
};

// Inverse of the program's conversions: the raw words a receiver sends so
// that the program shows `count` and `value`.
int16_t accelerometerWord(int16_t count);
int16_t gyroscopeWord(int axis, int16_t value);

// The six data words that carry `sample` in `format`'s slots (zero for a
// slot that is off).
std::array<int16_t, 6> dataWords(const Sample &sample, const FrameFormat &format);

// Appends one frame carrying the six data words; data bytes beyond the
// twelfth are zero, a frame with fewer data bytes carries the leading ones.
void appendWords(std::vector<uint8_t> &out, const std::array<int16_t, 6> &words,
                 const FrameFormat &format);
void appendFrame(std::vector<uint8_t> &out, const Sample &sample, const FrameFormat &format);
std::vector<uint8_t> encodeFrame(const Sample &sample, const FrameFormat &format);

} // namespace nodesim
