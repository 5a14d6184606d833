#include "samplesource.h"

#include "serialhandler.h"

#include <cmath>

void PortSource::poll()
{
    link.readSerial();
}

Sample TestWaves::at(double t)
{
    const auto wave = [](double value) { return int16_t(value); }; // truncates toward zero
    return {
        {wave(10 * std::sin(0.2 * t)), wave(5 * std::cos(0.1 * t)), wave(15 * std::sin(0.05 * t))},
        {wave(20 * std::sin(0.2 * t)), wave(55 * std::cos(0.3 * t)),
         wave(150 * std::sin(0.05 * t))}};
}

void TestWaves::poll()
{
    deliver(at(timeBase ? timeBase() : double(generated)));
    ++generated;
}
