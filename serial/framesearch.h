#pragma once

#include "frameformat.h"
#include "sensordatabase.h"

#include <cstdint>

// Finds the receiver's frames in a stream of bytes and decodes them into
// samples. It never sees a device: bytes go in one at a time, as they
// arrive, and each byte that ends a frame yields a sample.
//
// The search is anchored at a frame's end: every byte taken is tried as the
// last byte of a frame, by its framing bytes at their places counted back
// from it. Bytes in front of a frame (noise, the tail of a frame whose start
// was missed) are dropped with it. Bytes of a frame not yet complete are held
// for the next bytes, also across a change of format.
class FrameSearch
{
public:
    // Bytes held at most; a full hold keeps only what can still be the front
    // of a frame.
    static constexpr int bufferSize = 1256;
    // A pass that ends with no frame and more bytes held than this drops them.
    static constexpr int holdLimit = 1000;

    FrameSearch();
    FrameSearch(const FrameSearch &) = delete;
    FrameSearch &operator=(const FrameSearch &) = delete;

    const FrameFormat &format() const { return frameFormat; }
    void setFormat(const FrameFormat &format);

    // Takes one byte. True when a frame ends with it: the frame is then
    // decoded into sample() and nothing is held any more.
    bool take(uint8_t byte);
    // The last decoded sample. A slot that no frame has carried yet is zero;
    // one that the last frame did not carry keeps its earlier values.
    const Sample &sample() const { return last; }

    // What the bytes held amount to when a pass ends without a frame.
    enum class Held { Nothing, ShortOfAFrame, FramingMismatch };
    // Ends a pass that found no frame; drops the bytes held if they are more
    // than holdLimit.
    Held endPass();

    int heldBytes() const { return msgIndex; }
    // Drops the bytes held (counted as bytes that belonged to no frame).
    void drop();
    // Totals since construction: frames found, and bytes that belonged to no
    // frame (dropped in front of a frame, or when the hold was full or long).
    long long framesFound() const { return frames; }
    long long bytesDropped() const { return dropped; }
    // The bytes dropped in front of the last frame found, and how many
    // frames in a row, up to it, had that same number in front of them. A
    // long run of the same nonzero number is the mark of frames longer than
    // the format.
    int strayBeforeLast() const { return lastStray; }
    long long sameStrayFrames() const { return sameStrayRun; }

private:
    void decode();

    FrameFormat frameFormat;
    // Frame length when frames can match, else -1.
    int frameLength;
    SensorDatabase sensorDatabase;
    Sample last;
    uint8_t msgBuffer[bufferSize];
    int msgIndex = 0;
    long long frames = 0;
    long long dropped = 0;
    int lastStray = 0;
    long long sameStrayRun = 0;
};
