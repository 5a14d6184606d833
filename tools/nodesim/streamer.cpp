#include "streamer.h"

#include <cstdio>
#include <thread>

namespace nodesim
{

namespace
{
using Clock = std::chrono::steady_clock;

std::string hexByte(uint8_t byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}
} // namespace

std::string describeInitMessage(const uint8_t message[3])
{
    std::string text = "init message " + hexByte(message[0]) + " " + hexByte(message[1]) + " " +
                       hexByte(message[2]) + ": ";
    switch (message[0]) {
    case '1':
        text += "both sensors";
        break;
    case '2':
        text += "sensor 1 only, gyroscope";
        break;
    default:
        text += "sensor 1 only, accelerometer";
        break;
    }
    return text + ", end bytes " + std::to_string(message[1]) + " " + std::to_string(message[2]);
}

std::vector<std::string> InitMessageReader::feed(const std::vector<uint8_t> &bytes)
{
    std::vector<std::string> lines;
    for (uint8_t byte : bytes) {
        if (pending.empty() && (byte < '1' || byte > '3')) {
            lines.push_back("unexpected byte " + hexByte(byte) + " from the program");
            continue;
        }
        pending.push_back(byte);
        if (pending.size() == 3) {
            lines.push_back(describeInitMessage(pending.data()));
            ++count;
            pending.clear();
        }
    }
    return lines;
}

std::string StreamReport::summary() const
{
    char timing[32];
    std::snprintf(timing, sizeof timing, "%.1f", seconds);
    return "sent " + std::to_string(frames) + " frames, " + std::to_string(bytes) + " bytes (" +
           std::to_string(noiseBytes) + " noise bytes, " + std::to_string(splitFrames) +
           " frames split) in " + timing + " s; " + std::to_string(initMessages) +
           (initMessages == 1 ? " init message" : " init messages") + " received; " +
           (hungUp ? "hung up the line" : "line left open");
}

Streamer::Streamer(PseudoTerminal &pty, StreamConfig config, Source source, EventSink events)
    : pty(pty), config(config), source(std::move(source)), events(std::move(events)),
      randomState(config.seed ? config.seed : 1)
{
}

uint32_t Streamer::random()
{
    // xorshift32: repeatable from the seed, good enough for noise.
    randomState ^= randomState << 13;
    randomState ^= randomState >> 17;
    randomState ^= randomState << 5;
    return randomState;
}

void Streamer::serviceInput()
{
    for (const auto &line : initReader.feed(pty.readAvailable()))
        events(line);
}

void Streamer::waitUntil(Clock::time_point deadline, const std::atomic<bool> &stop)
{
    for (;;) {
        serviceInput();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || stop || !pty.isOpen())
            return;
        // Short slices keep a stop request and a closing program noticed.
        const int slice = static_cast<int>(std::min<long long>(left, 50));
        // With no program on the line, poll() reports the hang-up at once
        // instead of waiting: sleep instead of spinning on it.
        if (!pty.waitReadable(slice) && !pty.clientAttached())
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, 5)));
    }
}

bool Streamer::writeAll(const uint8_t *data, size_t size, const std::atomic<bool> &stop)
{
    // A full line: the program reads slower than frames come. Wait for it,
    // as a receiver whose frames queue up would.
    return pty.write(data, size, [&] {
        serviceInput();
        return !stop && pty.clientAttached();
    });
}

void Streamer::sendFrame(const Sample &sample, const std::atomic<bool> &stop)
{
    buffer.clear();
    if (report.frames > 0)
        for (int i = 0; i < config.noiseBytes; ++i) {
            uint8_t byte;
            do
                byte = static_cast<uint8_t>(random());
            while (config.format.isFramingValue(byte));
            buffer.push_back(byte);
        }
    const size_t frameStart = buffer.size();
    config.format.append(buffer, sample);
    const size_t frameSize = buffer.size() - frameStart;

    bool written;
    if (config.split && frameSize >= 2) {
        const size_t cut = frameStart + 1 + random() % (frameSize - 1);
        written = writeAll(buffer.data(), cut, stop);
        std::this_thread::sleep_for(std::chrono::milliseconds(config.splitPauseMs));
        written = written && writeAll(buffer.data() + cut, buffer.size() - cut, stop);
        report.splitFrames += written;
    } else {
        written = writeAll(buffer.data(), buffer.size(), stop);
    }
    if (!written)
        return;
    report.frames += 1;
    report.bytes += static_cast<long>(buffer.size());
    report.noiseBytes += static_cast<long>(frameStart);
}

StreamReport Streamer::run(const std::atomic<bool> &stop)
{
    const auto start = Clock::now();
    const auto period = config.rate > 0 ? std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(1.0 / config.rate))
                                        : Clock::duration::zero();
    auto next = start;
    auto origin = start; // the schedule's 0
    const auto scheduled = [&] {
        return origin + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(config.schedule()));
    };
    bool ready = false;
    bool finished = false;
    while (!stop) {
        serviceInput();
        if (pty.clientReady() != ready) {
            ready = !ready;
            events(ready ? "program opened the line" : "program closed the line");
            next = Clock::now();
            if (config.schedule)
                origin += next - scheduled();
        }
        if (!ready) {
            if (finished)
                break;
            waitUntil(Clock::now() + std::chrono::milliseconds(5), stop);
            continue;
        }
        if (config.hangUpAfter >= 0 && report.frames >= config.hangUpAfter) {
            pty.hangUp();
            report.hungUp = true;
            events("hung up the line after " + std::to_string(report.frames) + " frames");
            break;
        }
        if (finished || (config.waitForInit && initReader.messages() == 0)) {
            waitUntil(Clock::now() + std::chrono::milliseconds(5), stop);
            continue;
        }
        waitUntil(config.schedule ? scheduled() : next, stop);
        if (stop)
            break;
        // Closed while waiting: the frame would reach nobody and be counted as sent.
        if (!pty.clientReady())
            continue;
        const auto sample =
            config.count >= 0 && report.frames >= config.count ? std::nullopt : source();
        if (!sample) {
            finished = true;
            events("all " + std::to_string(report.frames) + " frames sent");
            continue;
        }
        sendFrame(*sample, stop);
        // After a stall (the program not reading) do not send a burst.
        next = std::max(next + period, Clock::now() - period);
    }
    serviceInput();
    report.initMessages = initReader.messages();
    report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return report;
}

} // namespace nodesim
