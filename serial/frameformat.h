#pragma once

#include "sample.h"

#include <array>
#include <cstdint>
#include <vector>

// The options dialog's nine-entry option array, by index; -1 marks a
// switched-off field.
using OptionArray = std::array<int, 9>;
enum OptionIndex {
    DataBytesIndex,
    StartByte1Index,
    StartByte2Index,
    EndByte1Index,
    EndByte2Index,
    Sensor1TypeIndex,
    Sensor2TypeIndex,
    Sensor1BytesIndex,
    Sensor2BytesIndex,
};

// The layout of the receiver's frames: optional start bytes, the data bytes
// (slot 1 in data bytes 0-5, slot 2 in 6-11, three big-endian words each),
// optional end bytes. No length field, no checksum.
struct FrameFormat {
    static constexpr int off = -1;
    // The longest frame that can be matched: longer ones never are.
    static constexpr int maxLength = 200;
    // The line's pace: 9600 baud, ten bits a byte (start, eight data, stop).
    static constexpr double lineBytesPerSecond = 960;

    int dataBytes = 12;
    int startByte1 = off;
    int startByte2 = off;
    int endByte1 = 55;
    int endByte2 = 1;
    int slot1Type = sensor::gyroscope;
    int slot2Type = sensor::accelerometer;

    // Fields 0-6 of an option array; 7 and 8 (sensor byte counts) describe
    // no byte of the frame.
    static FrameFormat fromOptionArray(const int *optionFrame);
    OptionArray toOptionArray(int sensor1Bytes = 6, int sensor2Bytes = 6) const;

    int startCount() const { return (startByte1 != off) + (startByte2 != off); }
    // The data bytes the slots in use take: six for slot 1, twelve once
    // slot 2 is read too (it is read only behind slot 1).
    int dataBytesNeeded() const
    {
        return slot1Type == sensor::none ? 0 : slot2Type == sensor::none ? 6 : 12;
    }
    // Bytes in a frame, for any field values (the option array is not checked).
    long long length() const;
    // The frames a second the line carries when the receiver sends without
    // pause: lineBytesPerSecond over length() (about 68.6 for the default 14
    // bytes); 0 for a frame without bytes.
    double linePace() const { return length() > 0 ? lineBytesPerSecond / double(length()) : 0; }
    // False when no frame can match: a negative data byte count, or frames
    // longer than maxLength.
    bool matchable() const { return dataBytes >= 0 && length() <= maxLength; }
    bool isFramingValue(uint8_t byte) const;
    // Whether the length() bytes from `first` on carry the framing bytes.
    bool framingMatches(const uint8_t *first) const;

    // The frame that carries `sample` (the receiver's side, for the
    // simulator and the tests): data bytes past the twelfth are zero, a
    // slot that is off sends zero words.
    void append(std::vector<uint8_t> &out, const Sample &sample) const;
    // The same with the six raw data words given.
    void appendWords(std::vector<uint8_t> &out, const std::array<int16_t, 6> &words) const;
    std::vector<uint8_t> encode(const Sample &sample) const;
};

// The fixed offsets the gyroscope's X, Y and Z words get, in 16-bit
// two's-complement arithmetic, and their inverse.
int16_t gyroscopeValue(int axis, int16_t word);
int16_t gyroscopeWord(int axis, int16_t value);
// The word the SCA3100 sends for `count`: the inverse of
// SensorDatabase::SCA3100_transformValues.
int16_t accelerometerWord(int16_t count);
