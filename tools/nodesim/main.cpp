// nodesim: plays Motion Monitor's sensor receiver on a pseudo-terminal.
#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sinesource.h"
#include "streamer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <stdexcept>

namespace
{

std::atomic<bool> stopRequested{false};

void requestStop(int)
{
    stopRequested = true;
}

void say(const std::string &line)
{
    std::printf("nodesim: %s\n", line.c_str());
    std::fflush(stdout);
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "nodesim: %s (see --help)\n", qPrintable(message));
    std::exit(2);
}

long number(const QCommandLineParser &parser, const QString &name, long low, long high)
{
    bool ok = false;
    const long value = parser.value(name).toLong(&ok);
    if (!ok || value < low || value > high)
        usageError(
            QStringLiteral("--%1 takes a number from %2 to %3").arg(name).arg(low).arg(high));
    return value;
}

// A framing byte: 0-255, or "off".
int framingByte(const QCommandLineParser &parser, const QString &name, int fallback)
{
    if (!parser.isSet(name))
        return fallback;
    if (parser.value(name) == QLatin1String("off"))
        return FrameFormat::off;
    return static_cast<int>(number(parser, name, 0, 255));
}

int slotType(const QCommandLineParser &parser, const QString &name, int fallback)
{
    if (!parser.isSet(name))
        return fallback;
    const QString value = parser.value(name);
    if (value == QLatin1String("gyro"))
        return sensor::gyroscope;
    if (value == QLatin1String("acc"))
        return sensor::accelerometer;
    if (value == QLatin1String("off"))
        return sensor::none;
    usageError(QStringLiteral("--%1 takes gyro, acc or off").arg(name));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nodesim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(MM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays Motion Monitor's sensor receiver on a pseudo-terminal.\n\n"
        "Prints the device path (\"nodesim: device /dev/pts/N\"); give that path, or the\n"
        "--link path, as the serial device in Motion Monitor's options. Frames are sent\n"
        "only while a program holds the device open at 9600 baud, so none is lost while\n"
        "it sets the line up. Init messages the program writes are reported as they\n"
        "arrive. nodesim ends on Ctrl-C, after --hangup-after, or once --count frames\n"
        "(or the replayed log) are sent and the program has closed the device; it then\n"
        "prints one summary line: \"nodesim: sent N frames, B bytes ...\"."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("link"),
         QStringLiteral("Also make a symbolic link to the device at <path>."),
         QStringLiteral("path")},
        {QStringLiteral("rate"),
         QStringLiteral("Frames per second (default 68, the line's pace at 9600 baud; 0: as "
                        "fast as the program reads)."),
         QStringLiteral("hz"), QStringLiteral("68")},
        {QStringLiteral("count"), QStringLiteral("Send <n> frames, then stop sending."),
         QStringLiteral("n")},
        {QStringLiteral("data-bytes"), QStringLiteral("Data bytes per frame (default 12)."),
         QStringLiteral("n"), QStringLiteral("12")},
        {QStringLiteral("start1"), QStringLiteral("Start byte 1: 0-255 or off (default off)."),
         QStringLiteral("byte")},
        {QStringLiteral("start2"), QStringLiteral("Start byte 2: 0-255 or off (default off)."),
         QStringLiteral("byte")},
        {QStringLiteral("end1"), QStringLiteral("End byte 1: 0-255 or off (default 55)."),
         QStringLiteral("byte")},
        {QStringLiteral("end2"), QStringLiteral("End byte 2: 0-255 or off (default 1)."),
         QStringLiteral("byte")},
        {QStringLiteral("slot1"),
         QStringLiteral("Sensor in slot 1: gyro, acc or off (default gyro)."),
         QStringLiteral("sensor")},
        {QStringLiteral("slot2"),
         QStringLiteral("Sensor in slot 2: gyro, acc or off (default acc)."),
         QStringLiteral("sensor")},
        {QStringLiteral("replay"),
         QStringLiteral("Send the samples of a log file that Motion Monitor wrote, so that it "
                        "shows and logs the same values again (default: sine waves)."),
         QStringLiteral("file")},
        {QStringLiteral("loop"), QStringLiteral("Replay the log file over and over.")},
        {QStringLiteral("noise"),
         QStringLiteral("Send <n> random bytes, never a framing byte value, between frames."),
         QStringLiteral("n")},
        {QStringLiteral("split"), QStringLiteral("Send each frame in two writes, <ms> apart."),
         QStringLiteral("ms")},
        {QStringLiteral("hangup-after"),
         QStringLiteral("Hang up the line (the receiver pulled out) after <n> frames."),
         QStringLiteral("n")},
        {QStringLiteral("wait-init"),
         QStringLiteral("Start sending only after the program's first init message.")},
        {QStringLiteral("seed"),
         QStringLiteral("Seed for noise bytes and split points (default 1)."), QStringLiteral("n"),
         QStringLiteral("1")},
    });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    nodesim::StreamConfig config;
    config.format.dataBytes = static_cast<int>(number(parser, QStringLiteral("data-bytes"), 0, 99));
    config.format.startByte1 = framingByte(parser, QStringLiteral("start1"), FrameFormat::off);
    config.format.startByte2 = framingByte(parser, QStringLiteral("start2"), FrameFormat::off);
    config.format.endByte1 = framingByte(parser, QStringLiteral("end1"), 55);
    config.format.endByte2 = framingByte(parser, QStringLiteral("end2"), 1);
    config.format.slot1Type = slotType(parser, QStringLiteral("slot1"), sensor::gyroscope);
    config.format.slot2Type = slotType(parser, QStringLiteral("slot2"), sensor::accelerometer);
    bool rateOk = false;
    config.rate = parser.value(QStringLiteral("rate")).toDouble(&rateOk);
    if (!rateOk || config.rate < 0 || config.rate > 1e6)
        usageError(QStringLiteral("--rate takes frames per second from 0 to 1000000"));
    if (parser.isSet(QStringLiteral("count")))
        config.count = number(parser, QStringLiteral("count"), 0, 1L << 40);
    if (parser.isSet(QStringLiteral("noise")))
        config.noiseBytes = static_cast<int>(number(parser, QStringLiteral("noise"), 0, 4096));
    if (parser.isSet(QStringLiteral("split"))) {
        config.split = true;
        config.splitPauseMs = static_cast<int>(number(parser, QStringLiteral("split"), 0, 10000));
    }
    if (parser.isSet(QStringLiteral("hangup-after")))
        config.hangUpAfter = number(parser, QStringLiteral("hangup-after"), 0, 1L << 40);
    config.waitForInit = parser.isSet(QStringLiteral("wait-init"));
    config.seed = static_cast<unsigned>(number(parser, QStringLiteral("seed"), 0, 0xFFFFFFFFL));

    Recording replay;
    if (parser.isSet(QStringLiteral("replay"))) {
        QString error;
        if (!replay.read(parser.value(QStringLiteral("replay")), &error)) {
            std::fprintf(stderr, "nodesim: %s\n", qPrintable(error));
            return 1;
        }
    } else if (parser.isSet(QStringLiteral("loop"))) {
        usageError(QStringLiteral("--loop needs --replay"));
    }

    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGHUP, requestStop);
    try {
        nodesim::PseudoTerminal pty;
        say("device " + pty.devicePath());
        if (parser.isSet(QStringLiteral("link"))) {
            pty.makeLink(parser.value(QStringLiteral("link")).toStdString());
            say("link " + pty.linkPath() + " -> " + pty.devicePath());
        }

        nodesim::SineSource sine(config.format);
        nodesim::RecordingSource recorded(replay, parser.isSet(QStringLiteral("loop")));
        nodesim::Streamer::Source source;
        if (parser.isSet(QStringLiteral("replay"))) {
            say("replaying " + std::to_string(replay.rows()) + " samples");
            source = [&] { return recorded.next(); };
        } else {
            source = [&]() -> std::optional<Sample> { return sine.next(); };
        }
        nodesim::Streamer streamer(pty, config, source, say);
        const auto report = streamer.run(stopRequested);
        say(report.summary());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "nodesim: %s\n", e.what());
        return 1;
    }
    return 0;
}
