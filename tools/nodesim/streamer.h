#pragma once

#include "frameformat.h"
#include "pseudoterminal.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nodesim
{

// Collects the bytes Motion Monitor writes to the receiver into init
// messages: an init code ('1' both sensors, '2' slot 1 gyroscope only, '3'
// slot 1 accelerometer only) followed by the two end byte values.
class InitMessageReader
{
public:
    // Takes bytes as they arrive; returns one line per complete message and
    // one per byte that cannot start a message.
    std::vector<std::string> feed(const std::vector<uint8_t> &bytes);
    int messages() const { return count; }

private:
    std::vector<uint8_t> pending;
    int count = 0;
};

// Describes a complete three-byte init message, for example
// "init message 31 37 01: both sensors, end bytes 55 1".
std::string describeInitMessage(const uint8_t message[3]);

struct StreamConfig {
    FrameFormat format;
    double rate = 68;   // frames per second; 0: as fast as the line takes them
    long count = -1;    // frames to send; -1: no limit
    int noiseBytes = 0; // random bytes between frames, never a framing value
    bool split = false; // each frame in two writes, apart by splitPauseMs
    int splitPauseMs = 30;
    long hangUpAfter = -1;    // hang up the line after this many frames; -1: never
    bool waitForInit = false; // stream only after the first init message
    unsigned seed = 1;        // noise bytes and split points
    // When set, the rate is not used: the next frame is due this many
    // seconds after the first (a replayed session's times). A program that
    // opens the line again gets the next frame at once, the rest after it
    // as scheduled.
    std::function<double()> schedule;
};

struct StreamReport {
    long frames = 0;
    long bytes = 0; // all bytes written, noise included
    long noiseBytes = 0;
    long splitFrames = 0;
    int initMessages = 0;
    bool hungUp = false;
    double seconds = 0;
    // The one line printed at the end.
    std::string summary() const;
};

// Streams frames to the program on `pty`. Frames go out only while a program
// holds the line ready (clientReady), so none is lost to its set-up. Ends when
// `stop` is set, after a hang-up, or when the source or count is exhausted
// and the program has closed the line.
class Streamer
{
public:
    using Source = std::function<std::optional<Sample>()>;
    using EventSink = std::function<void(const std::string &)>;
    Streamer(PseudoTerminal &pty, StreamConfig config, Source source, EventSink events);
    StreamReport run(const std::atomic<bool> &stop);

private:
    void serviceInput();
    // Waits until `deadline`, taking in init messages meanwhile.
    void waitUntil(std::chrono::steady_clock::time_point deadline, const std::atomic<bool> &stop);
    void sendFrame(const Sample &sample, const std::atomic<bool> &stop);
    // Writes all of `size` bytes, however long the program takes to make
    // room; false when it closed the line or a stop was asked for first.
    bool writeAll(const uint8_t *data, size_t size, const std::atomic<bool> &stop);
    uint32_t random();

    PseudoTerminal &pty;
    StreamConfig config;
    Source source;
    EventSink events;
    InitMessageReader initReader;
    StreamReport report;
    uint32_t randomState;
    std::vector<uint8_t> buffer;
};

} // namespace nodesim
