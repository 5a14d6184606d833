#include "framesearch.h"

#include <algorithm>
#include <cstring>

FrameSearch::FrameSearch() : sensorDatabase(nullptr), msgBuffer{}
{
    setFormat(FrameFormat());
}

void FrameSearch::drop()
{
    dropped += msgIndex;
    msgIndex = 0;
}

void FrameSearch::setFormat(const FrameFormat &format)
{
    frameFormat = format;
    frameLength = format.matchable() ? static_cast<int>(format.length()) : -1;
}

bool FrameSearch::take(uint8_t byte)
{
    if (msgIndex == bufferSize) {
        // Keep the newest bytes that can still be the front of a frame, so
        // that a frame in progress survives.
        const int keep = std::max(frameLength - 1, 0);
        std::memmove(msgBuffer, msgBuffer + msgIndex - keep, keep);
        dropped += msgIndex - keep;
        msgIndex = keep;
    }
    msgBuffer[msgIndex++] = byte;
    if (frameLength < 0 || msgIndex < frameLength ||
        !frameFormat.framingMatches(msgBuffer + msgIndex - frameLength))
        return false;
    decode();
    ++frames;
    const int stray = msgIndex - frameLength;
    dropped += stray;
    sameStrayRun = stray == lastStray ? sameStrayRun + 1 : 1;
    lastStray = stray;
    msgIndex = 0;
    return true;
}

FrameSearch::Held FrameSearch::endPass()
{
    Held held = Held::Nothing;
    if (msgIndex > 0)
        held = msgIndex < frameLength - 1 ? Held::ShortOfAFrame : Held::FramingMismatch;
    if (msgIndex > holdLimit) {
        dropped += msgIndex;
        msgIndex = 0;
    }
    return held;
}

void FrameSearch::decode()
{
    const uint8_t *data = msgBuffer + msgIndex - frameLength + frameFormat.startCount();
    const auto word = [data](int k) {
        return static_cast<int16_t>(static_cast<uint16_t>(data[k] << 8 | data[k + 1]));
    };
    // A slot is decoded only when the frame carries all six of its bytes;
    // when both hold the same sensor, slot 2 wins.
    const auto slot = [&](int type, int firstByte) {
        if (frameFormat.dataBytes < firstByte + 6)
            return;
        for (int axis = 0; axis < 3; ++axis) {
            const int16_t w = word(firstByte + 2 * axis);
            if (type == sensor::gyroscope)
                last.gyro[axis] = gyroscopeValue(axis, w);
            else if (type == sensor::accelerometer)
                last.acc[axis] = sensorDatabase.SCA3100_transformValues(w);
        }
    };
    slot(frameFormat.slot1Type, 0);
    if (frameFormat.slot1Type != sensor::none)
        slot(frameFormat.slot2Type, 6);
}
