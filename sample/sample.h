#pragma once

#include <array>
#include <chrono>
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

// A moment on the steady clock (it never jumps when the system's clock is
// set), in nanoseconds: when a sample reached the computer, when a session
// line was written. Every layer that times samples uses this one clock.
using SteadyNs = std::int64_t;
inline SteadyNs steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
