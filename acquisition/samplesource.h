#pragma once

#include "sample.h"

#include <functional>

class serialhandler;

// Where samples come from while acquiring: the receiver's serial link or the
// test mode's generator. Each tick polls the source in use.
class SampleSource
{
public:
    virtual ~SampleSource() = default;
    // Takes what the source has now.
    virtual void poll() = 0;
};

// The receiver: its frames go out on the link's SendData.
class PortSource : public SampleSource
{
public:
    explicit PortSource(serialhandler &link) : link(link) {}
    void poll() override;

private:
    serialhandler &link;
};

// The test mode's simulated sensor: one sample per poll, from sine and cosine
// waves of a time base t (accelerometer 10 sin 0.2t, 5 cos 0.1t, 15 sin 0.05t;
// gyroscope 20 sin 0.2t, 55 cos 0.3t, 150 sin 0.05t), each truncated toward
// zero.
class TestWaves : public SampleSource
{
public:
    explicit TestWaves(std::function<void(const Sample &)> deliver) : deliver(std::move(deliver)) {}
    // The time base; until set, the number of samples generated.
    void setTimeBase(std::function<double()> t) { timeBase = std::move(t); }
    void poll() override;

    static Sample at(double t);

private:
    std::function<void(const Sample &)> deliver;
    std::function<double()> timeBase;
    long generated = 0;
};
