// libFuzzer target for the frame search: random frame formats and byte
// streams, fed in passes as the serial link feeds them.
//
// Input layout (the seeds in corpus/ follow it):
//   option array: nine fields, each one byte (0xFF: a raw little-endian int32
//                 follows). Data bytes: byte % 100. Framing bytes: 0xFE is
//                 -1 (off), else the byte. Sensor types: 0xFE is -1, else
//                 byte % 3. Sensor byte counts: the byte.
//   then commands until the input ends:
//     tag with bit 7 set: a new option array follows;
//     other tag: a pass over the next (uint16 LE % 2048) bytes.
//
// Checked at every byte against a plain model of the search: a frame is
// found exactly where the bytes held end in matching framing bytes, its
// sample equals an independent decoding, the bytes held are the model's,
// and every byte taken is held, dropped or part of a frame found.
#include "framesearch.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "frame search check failed: %s\n", what);
    std::abort();
}

class Input
{
public:
    Input(const uint8_t *data, size_t size) : data(data), size(size) {}
    bool empty() const { return offset >= size; }
    uint8_t byte() { return offset < size ? data[offset++] : 0; }
    OptionArray options()
    {
        OptionArray fields{};
        for (int i = 0; i < 9; ++i) {
            const uint8_t b = byte();
            if (b == 0xFF) {
                uint32_t raw = 0;
                for (int k = 0; k < 4; ++k)
                    raw |= uint32_t(byte()) << (8 * k);
                std::memcpy(&fields[i], &raw, sizeof raw);
            } else {
                fields[i] = i == 0   ? b % 100
                            : i <= 4 ? (b == 0xFE ? -1 : b)
                            : i <= 6 ? (b == 0xFE ? -1 : b % 3)
                                     : b;
            }
        }
        return fields;
    }
    const uint8_t *take(size_t &count)
    {
        count = std::min(count, size - std::min(offset, size));
        offset += count;
        return data + offset - count;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t offset = 0;
};

// The search restated plainly: the bytes held, the newest tried as a frame's end.
struct Model {
    OptionArray o{};
    long long length = 0;
    std::vector<uint8_t> held;
    std::array<int16_t, 3> acc{}, gyro{};
    long long framed = 0, dropped = 0;

    void setOptions(const OptionArray &options)
    {
        o = options;
        length = o[0];
        for (int i = 1; i <= 4; ++i)
            length += o[i] != -1;
    }
    bool matchable() const { return o[0] >= 0 && length <= FrameFormat::maxLength; }
    bool ends() const
    {
        if (!matchable() || static_cast<long long>(held.size()) < length)
            return false;
        const size_t first = held.size() - static_cast<size_t>(length), last = held.size() - 1;
        const size_t start2 = first + (o[1] != -1), end1 = last - (o[4] != -1);
        return (o[1] == -1 || held[first] == o[1]) && (o[2] == -1 || held[start2] == o[2]) &&
               (o[4] == -1 || held[last] == o[4]) && (o[3] == -1 || held[end1] == o[3]);
    }
    void decode()
    {
        const size_t data = held.size() - size_t(length) + (o[1] != -1) + (o[2] != -1);
        const auto word = [&](int k) {
            return int16_t(uint16_t(held[data + k] * 256 + held[data + k + 1]));
        };
        const int offsets[3] = {15, 130, -313};
        const auto slot = [&](int type, int first) {
            if (o[0] < first + 6)
                return;
            for (int axis = 0; axis < 3; ++axis) {
                const int w = word(first + 2 * axis);
                if (type == 0)
                    gyro[axis] = int16_t(uint16_t(w + offsets[axis]));
                else if (type == 1)
                    acc[axis] = int16_t(w < 0 ? -((-w + 3) / 4) : w / 4); // floor(w / 4)
            }
        };
        slot(o[5], 0);
        if (o[5] != -1)
            slot(o[6], 6);
    }
    // True when a frame ends with `byte`.
    bool push(uint8_t byte)
    {
        if (held.size() == FrameSearch::bufferSize) {
            const size_t keep = size_t(std::max<long long>(matchable() ? length - 1 : 0, 0));
            dropped += held.size() - keep;
            held.erase(held.begin(), held.end() - keep);
        }
        held.push_back(byte);
        if (!ends())
            return false;
        decode();
        framed += length;
        dropped += held.size() - length;
        held.clear();
        return true;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    FrameSearch search;
    Model model;
    long long taken = 0;
    const auto setOptions = [&] {
        OptionArray options = input.options();
        search.setFormat(FrameFormat::fromOptionArray(options.data()));
        model.setOptions(options);
    };
    setOptions();
    while (!input.empty()) {
        const uint8_t tag = input.byte();
        if (tag & 0x80) {
            setOptions();
            continue;
        }
        size_t count = (input.byte() | input.byte() << 8) % 2048;
        const uint8_t *pass = input.take(count);
        for (size_t i = 0; i < count; ++i) {
            ++taken;
            const bool ended = search.take(pass[i]);
            if (ended != model.push(pass[i]))
                fail("a frame found where the model finds none, or missed");
            if (ended && (search.sample().acc != model.acc || search.sample().gyro != model.gyro))
                fail("sample differs from the independent decoding");
        }
        const size_t held = model.held.size();
        const FrameSearch::Held end = search.endPass();
        if ((end == FrameSearch::Held::Nothing) != (held == 0))
            fail("pass end misreads the bytes held");
        if (held > FrameSearch::holdLimit) {
            model.dropped += held;
            model.held.clear();
        }
        if (search.heldBytes() != int(model.held.size()))
            fail("held bytes differ from the model");
        if (search.bytesDropped() != model.dropped ||
            model.framed + model.dropped + search.heldBytes() != taken)
            fail("a byte is neither held, dropped nor part of a frame");
    }
    return 0;
}
