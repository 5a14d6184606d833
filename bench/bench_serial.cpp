// Speed of the serial link: frames searched and decoded per second in memory,
// and bytes per second read through a pseudo-terminal with libserial.
#include "framesearch.h"
#include "pseudoterminal.h"
#include "serialhandler.h"
#include "sinesource.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <array>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

void discardMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

std::vector<uint8_t> stream(const FrameFormat &format, int frames)
{
    nodesim::SineSource sine(format);
    std::vector<uint8_t> bytes;
    for (int n = 0; n < frames; ++n)
        format.append(bytes, sine.next());
    return bytes;
}

void report(const char *what, double value, const char *unit, double goal)
{
    std::printf("  %-44s %14.0f %-9s goal >= %.0f  %s\n", what, value, unit, goal,
                value >= goal ? "(met)" : "(NOT MET)");
}

void countSamples(serialhandler &serial, long long &samples)
{
    QObject::connect(
        &serial,
        qOverload<int16_t, int16_t, int16_t, int16_t, int16_t, int16_t>(&serialhandler::SendData),
        [&samples](int16_t, int16_t, int16_t, int16_t, int16_t, int16_t) { ++samples; });
}

// Runs the search over the same frames again and again for about a second.
double framesPerSecondInMemory(std::array<int, 9> options)
{
    const auto bytes = stream(FrameFormat::fromOptionArray(options.data()), 10000);
    FrameSearch search;
    search.setFormat(FrameFormat::fromOptionArray(options.data()));
    long long samples = 0;
    int checksum = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 1000) {
        for (uint8_t byte : bytes)
            if (search.take(byte)) {
                ++samples;
                checksum += search.sample().acc[0];
            }
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (checksum == 42)
        std::printf(" "); // keeps the decoding from being optimised away
    return samples / seconds;
}

// A writer thread fills the line as fast as it takes bytes; read passes take
// what is waiting, as the program's timer ticks would, only back to back.
double bytesPerSecondThroughPty(int frames)
{
    nodesim::PseudoTerminal pty;
    const std::array<int, 9> options{12, -1, -1, 55, 1, 0, 1, 6, 6};
    const auto bytes = stream(FrameFormat::fromOptionArray(options.data()), frames);
    serialhandler serial;
    auto optionCopy = options;
    serial.updateOptions(optionCopy.data());
    serial.receiveDevicename(QString::fromStdString(pty.devicePath()));
    if (serial.OpenUsb(10) != 1) {
        std::printf("  could not open %s\n", pty.devicePath().c_str());
        return 0;
    }
    long long samples = 0;
    countSamples(serial, samples);
    QElapsedTimer timer;
    timer.start();
    std::thread writer([&] { pty.write(bytes, 60000); });
    while (samples < frames && timer.elapsed() < 60000)
        serial.readSerial();
    const double seconds = timer.nsecsElapsed() / 1e9;
    writer.join();
    serial.CloseUsb();
    if (samples < frames)
        std::printf("  only %lld of %d frames arrived\n", samples, frames);
    return samples * 14.0 / seconds;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Passes that end between frames write a debug line each; not measured.
    qInstallMessageHandler(discardMessages);

    std::printf("Serial link (the line itself brings 960 bytes, about 68 frames, a second)\n");
    std::printf("Frame search and decoding in memory (FrameSearch):\n");
    report("default format, 14-byte frames",
           framesPerSecondInMemory({12, -1, -1, 55, 1, 0, 1, 6, 6}), "frames/s", 1e6);
    report("all four framing bytes, 16-byte frames",
           framesPerSecondInMemory({12, 0xA5, 0x5A, 55, 1, 0, 1, 6, 6}), "frames/s", 1e6);
    std::printf("Through a pseudo-terminal (what is waiting, read in bulk):\n");
    report("default format, 100000 frames", bytesPerSecondThroughPty(100000), "bytes/s", 1e6);
    return 0;
}
