// libFuzzer target for the serial link's frame search: random option arrays
// and byte streams fed in read passes through serialhandler::searchFrames.
//
// Input layout (make_seeds.py writes seeds in it):
//   option array: nine fields, each one byte (0xFF: a raw little-endian int32
//                 follows). Data bytes: byte % 100. Framing bytes: 0xFE is
//                 -1 (off), else the byte. Sensor types: 0xFE is -1, else
//                 byte % 3. Sensor byte counts: the byte.
//   then commands until the input ends:
//     tag with bit 7 set: a new option array follows;
//     other tag: a read pass over the next (uint16 LE % 2048) bytes.
//
// Checked for every pass:
//   - the write position stays inside the receive buffer;
//   - an emitted sample comes from the bytes just received, ending at the
//     pass's last byte, whose framing bytes match the options, and decodes
//     to what an independent decoder makes of them;
//   - the sample is emitted at the first byte where a frame ends, and the
//     bytes held afterwards are those a plain model of the search holds.
#include "serialhandler.h"

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

constexpr int bufferSize = 1256;
constexpr int frameCapacity = 200;
using Tuple = std::array<int, 6>;

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
    int raw()
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(byte()) << (8 * i);
        int result;
        std::memcpy(&result, &value, sizeof result);
        return result;
    }
    std::array<int, 9> options()
    {
        std::array<int, 9> fields{};
        for (int i = 0; i < 9; ++i) {
            const uint8_t b = byte();
            if (b == 0xFF)
                fields[i] = raw();
            else if (i == 0)
                fields[i] = b % 100;
            else if (i <= 4)
                fields[i] = b == 0xFE ? -1 : b;
            else if (i <= 6)
                fields[i] = b == 0xFE ? -1 : b % 3;
            else
                fields[i] = b;
        }
        return fields;
    }
    // The next `count` bytes, or fewer at the end of the input.
    std::vector<uint8_t> bytes(size_t count)
    {
        count = std::min(count, size - std::min(offset, size));
        std::vector<uint8_t> out(data + offset, data + offset + count);
        offset += count;
        return out;
    }

private:
    const uint8_t *data;
    size_t size;
    size_t offset = 0;
};

// A plain restatement of the search: the bytes held, tried as frame ends.
struct Model {
    std::array<int, 9> options{};
    long long frameLength = 0;
    std::vector<uint8_t> held;

    void setOptions(const std::array<int, 9> &o)
    {
        options = o;
        frameLength = o[0];
        for (int i = 1; i <= 4; ++i)
            frameLength += o[i] != -1;
    }
    bool matchable() const { return options[0] >= 0 && frameLength <= frameCapacity; }
    // Framing bytes of the frame that ends at the end of `bytes`.
    bool framingMatches(const std::vector<uint8_t> &bytes) const
    {
        if (!matchable() || static_cast<long long>(bytes.size()) < frameLength)
            return false;
        const size_t first = bytes.size() - static_cast<size_t>(frameLength);
        size_t head = first;
        if (options[1] != -1 && bytes[head++] != options[1])
            return false;
        if (options[2] != -1 && bytes[head] != options[2])
            return false;
        size_t tail = bytes.size() - 1;
        if (options[4] != -1 && bytes[tail--] != options[4])
            return false;
        if (options[3] != -1 && bytes[tail] != options[3])
            return false;
        return true;
    }
    // True when a frame ends with `byte`.
    bool push(uint8_t byte)
    {
        if (held.size() == bufferSize) {
            const long long keep =
                std::min<long long>(std::max<long long>(frameLength - 1, 0), frameCapacity - 1);
            held.erase(held.begin(), held.end() - keep);
        }
        held.push_back(byte);
        return framingMatches(held);
    }
};

// Decodes the frame at the end of `bytes` into the running values.
void decode(const Model &model, const std::vector<uint8_t> &bytes, std::array<int16_t, 3> &acc,
            std::array<int16_t, 3> &gyro)
{
    const auto &o = model.options;
    const size_t start =
        bytes.size() - static_cast<size_t>(model.frameLength) + (o[1] != -1) + (o[2] != -1);
    const auto word = [&](int k) {
        return static_cast<int16_t>(bytes[start + k] * 256 + bytes[start + k + 1]);
    };
    bool accSet = false;
    bool gyroSet = false;
    const auto slot = [&](int type, int first) {
        if (o[0] < first + 6 || (type != 0 && type != 1))
            return;
        auto &target = type == 0 ? gyro : acc;
        for (int axis = 0; axis < 3; ++axis)
            target[axis] = word(first + 2 * axis);
        (type == 0 ? gyroSet : accSet) = true;
    };
    slot(o[5], 0);
    if (o[5] != -1)
        slot(o[6], 6);
    if (accSet)
        for (auto &value : acc)
            value = static_cast<int16_t>(value >> 2);
    const int offsets[3] = {15, 130, -313};
    if (gyroSet)
        for (int axis = 0; axis < 3; ++axis)
            gyro[axis] = static_cast<int16_t>(static_cast<uint16_t>(gyro[axis] + offsets[axis]));
}

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(discardMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    serialhandler serial;
    std::vector<Tuple> emitted;
    QObject::connect(
        &serial,
        qOverload<int16_t, int16_t, int16_t, int16_t, int16_t, int16_t>(&serialhandler::SendData),
        [&](int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2) {
            emitted.push_back({a0, a1, a2, g0, g1, g2});
        });
    Model model;
    auto options = input.options();
    serial.updateOptions(options.data());
    model.setOptions(options);
    // Every byte received since the last sample or the last drop.
    std::vector<uint8_t> history;
    std::array<int16_t, 3> acc{}, gyro{};

    while (!input.empty()) {
        const uint8_t tag = input.byte();
        if (tag & 0x80) {
            options = input.options();
            serial.updateOptions(options.data());
            model.setOptions(options);
            continue;
        }
        const int length = (input.byte() | input.byte() << 8) % 2048;
        std::vector<uint8_t> pass = input.bytes(static_cast<size_t>(length));
        if (pass.empty()) {
            emitted.clear();
            if (serial.searchFrames(nullptr, 0) != 0 || !emitted.empty() ||
                serial.heldBytes() != static_cast<int>(model.held.size()))
                fail("a pass without bytes changed something");
            continue;
        }
        size_t offset = 0;
        while (offset < pass.size()) {
            emitted.clear();
            const int taken =
                serial.searchFrames(pass.data() + offset, static_cast<int>(pass.size() - offset));
            if (taken < 1 || static_cast<size_t>(taken) > pass.size() - offset)
                fail("bytes taken out of range");
            bool modelMatched = false;
            int modelTaken = 0;
            while (modelTaken < taken && !modelMatched)
                modelMatched = model.push(pass[offset + modelTaken++]);
            history.insert(history.end(), pass.begin() + offset, pass.begin() + offset + taken);
            offset += static_cast<size_t>(taken);

            if (serial.heldBytes() < 0 || serial.heldBytes() > bufferSize)
                fail("write position outside the receive buffer");
            if (modelTaken != taken || modelMatched != (emitted.size() == 1) || emitted.size() > 1)
                fail("sample not emitted at the first frame end");
            if (modelMatched) {
                if (!model.framingMatches(history))
                    fail("sample from bytes whose framing bytes do not match");
                decode(model, history, acc, gyro);
                const Tuple expected{acc[0], acc[1], acc[2], gyro[0], gyro[1], gyro[2]};
                if (emitted.front() != expected)
                    fail("sample differs from the independent decoding");
                model.held.clear();
                history.clear();
            } else if (offset < pass.size()) {
                fail("pass ended early without a frame");
            } else if (model.held.size() > 1000) {
                model.held.clear();
                history.clear();
            }
            if (serial.heldBytes() != static_cast<int>(model.held.size()))
                fail("held bytes differ from the model");
        }
    }
    return 0;
}
