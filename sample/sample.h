#pragma once

#include <array>
#include <cstdint>

// Sensor type codes of a sensor slot, as the options give them.
namespace sensor
{
constexpr int none = -1;
constexpr int gyroscope = 0;     // CMR3000
constexpr int accelerometer = 1; // SCA3100
} // namespace sensor

// One sample as the program shows, plots and logs it: accelerometer counts
// (-8192..8191) and gyroscope values with their offsets added, X Y Z each.
struct Sample {
    std::array<int16_t, 3> acc{};
    std::array<int16_t, 3> gyro{};
    friend bool operator==(const Sample &a, const Sample &b)
    {
        return a.acc == b.acc && a.gyro == b.gyro;
    }
};
