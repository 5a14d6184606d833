// libFuzzer target for the frame search: random frame formats and byte
// streams, fed in passes as the serial link feeds them.
//
// Input (the seeds in corpus/ follow it): an option array, then commands
// until the input ends: a tag with bit 7 set and a new option array, or
// another tag and a pass over the next (uint16 LE % 2048) bytes. An option
// array is nine one-byte fields (0xFF: a raw little-endian int32 follows):
// data bytes byte % 100; framing bytes 0xFE for off, else the byte; sensor
// types 0xFE for off, else byte % 3; sensor byte counts the byte.
//
// Checked at every byte against a plain model of the search: frames found
// where it finds them, with its independently decoded sample, and the same
// bytes held and dropped.
#include "framesearch.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "frame search check failed: %s\n", what);
        std::abort();
    }
}

// The search restated plainly: the bytes held, the newest tried as a frame's end.
struct Model {
    OptionArray o{};
    long long length = 0, dropped = 0; // 64 bits: a raw data byte count may be INT_MAX
    std::vector<uint8_t> held;
    std::array<int16_t, 3> acc{}, gyro{};

    void setOptions(const OptionArray &options)
    {
        o = options;
        length = 0LL + o[0] + (o[1] != -1) + (o[2] != -1) + (o[3] != -1) + (o[4] != -1);
    }
    bool matchable() const { return o[0] >= 0 && length <= FrameFormat::maxLength; }
    // True when a frame ends with `byte`.
    bool push(uint8_t byte)
    {
        if (held.size() == FrameSearch::bufferSize) {
            const size_t keep = size_t(std::max<long long>(matchable() ? length - 1 : 0, 0));
            dropped += held.size() - keep;
            held.erase(held.begin(), held.end() - keep);
        }
        held.push_back(byte);
        if (!matchable() || static_cast<long long>(held.size()) < length)
            return false;
        const size_t first = held.size() - size_t(length), last = held.size() - 1;
        const size_t data = first + (o[1] != -1) + (o[2] != -1);
        if ((o[1] != -1 && held[first] != o[1]) || (o[2] != -1 && held[data - 1] != o[2]) ||
            (o[4] != -1 && held[last] != o[4]) || (o[3] != -1 && held[last - (o[4] != -1)] != o[3]))
            return false;
        const int offsets[3] = {15, 130, -313};
        const auto slot = [&](int type, int start) {
            for (int axis = 0; axis < 3 && o[0] >= start + 6; ++axis) {
                const size_t at = data + size_t(start + 2 * axis);
                const int w = int16_t(uint16_t(held[at] * 256 + held[at + 1]));
                if (type == 0)
                    gyro[axis] = int16_t(uint16_t(w + offsets[axis]));
                else if (type == 1)
                    acc[axis] = int16_t(w < 0 ? -((-w + 3) / 4) : w / 4); // floor(w / 4)
            }
        };
        slot(o[5], 0);
        if (o[5] != -1)
            slot(o[6], 6);
        dropped += held.size() - length;
        held.clear();
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    size_t at = 0;
    const auto byte = [&] { return at < size ? data[at++] : uint8_t(0); };
    FrameSearch search;
    Model model;
    const auto setOptions = [&] {
        OptionArray o{};
        for (int i = 0; i < 9; ++i) {
            const uint8_t b = byte();
            uint32_t raw = 0;
            for (int k = 0; b == 0xFF && k < 4; ++k)
                raw |= uint32_t(byte()) << (8 * k);
            std::memcpy(&o[i], &raw, sizeof raw);
            if (b != 0xFF)
                o[i] = i == 0 ? b % 100 : b == 0xFE && i <= 6 ? -1 : i == 5 || i == 6 ? b % 3 : b;
        }
        search.setFormat(FrameFormat::fromOptionArray(o.data()));
        model.setOptions(o);
    };
    setOptions();
    while (at < size) {
        if (byte() & 0x80) {
            setOptions();
            continue;
        }
        const size_t low = byte(), count = std::min((low | byte() << 8) % 2048, size - at);
        for (const size_t end = at + count; at < end; ++at) {
            const bool ended = search.take(data[at]);
            check(ended == model.push(data[at]),
                  "a frame found where the model finds none, or missed");
            check(!ended ||
                      (search.sample().acc == model.acc && search.sample().gyro == model.gyro),
                  "sample differs from the independent decoding");
        }
        const size_t held = model.held.size();
        check((search.endPass() == FrameSearch::Held::Nothing) == (held == 0),
              "pass end misreads the bytes held");
        if (held > FrameSearch::holdLimit) {
            model.dropped += held;
            model.held.clear();
        }
        check(search.heldBytes() == int(model.held.size()) &&
                  search.bytesDropped() == model.dropped,
              "held or dropped bytes differ from the model");
    }
    return 0;
}
