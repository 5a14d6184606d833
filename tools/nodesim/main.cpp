// nodesim: plays Motion Monitor's sensor receiver on a pseudo-terminal.
#include "frameoptions.h"
#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sessionreader.h"
#include "sinesource.h"
#include "streamer.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonObject>

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
    long long value = parser.value(name).toLongLong(); // the default, when not given
    QString error;
    if (!frameoptions::number(parser, name, low, high, &value, &error))
        usageError(error);
    return long(value);
}

// The frame format that a session's first line keeps (docs/session-format.md);
// what it leaves out stays FrameFormat's default.
FrameFormat sessionFormat(const QJsonObject &options)
{
    FrameFormat f;
    f.dataBytes = options.value("data_bytes").toInt(f.dataBytes);
    const char *framing[4] = {"start1", "start2", "end1", "end2"};
    int *fields[4] = {&f.startByte1, &f.startByte2, &f.endByte1, &f.endByte2};
    for (int i = 0; i < 4; ++i) {
        const QJsonValue v = options.value(framing[i]);
        *fields[i] = v.isNull() ? FrameFormat::off : v.toInt(*fields[i]);
    }
    for (int slot : {1, 2}) {
        const QJsonValue v = options.value(QStringLiteral("slot%1").arg(slot));
        int &type = slot == 1 ? f.slot1Type : f.slot2Type;
        type = v.isNull()    ? sensor::none
               : v == "gyro" ? sensor::gyroscope
               : v == "acc"  ? sensor::accelerometer
                             : type;
    }
    return f;
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
        "(or the replayed log or session) are sent and the program has closed the\n"
        "device; it then prints one summary line: \"nodesim: sent N frames, B bytes ...\"."));
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
        {QStringLiteral("replay"),
         QStringLiteral("Send the samples of a log file that Motion Monitor wrote, so that it "
                        "shows and logs the same values again (default: sine waves); of a "
                        "session file, its rows at their recorded times (silent in its gaps), "
                        "in the frame format of its first line unless one is given."),
         QStringLiteral("file")},
        {QStringLiteral("speed"), QStringLiteral("Replay a session <x> times faster (default 1)."),
         QStringLiteral("x"), QStringLiteral("1")},
        {QStringLiteral("loop"), QStringLiteral("Replay the log file or session over and over.")},
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
    frameoptions::add(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    // A session replayed keeps its frame format, unless one is given.
    Recording replay;
    QString error;
    const QString replayed = parser.value(QStringLiteral("replay"));
    const bool session = !replayed.isEmpty() && SessionReader::isSessionFile(replayed);
    if (!replayed.isEmpty() && !(session ? SessionReader::read(replayed, &replay, &error)
                                         : replay.read(replayed, &error))) {
        std::fprintf(stderr, "nodesim: %s\n", qPrintable(error));
        return 1;
    }
    if (!replayed.isEmpty() && !replay.note().isEmpty())
        std::fprintf(stderr, "nodesim: %s\n", qPrintable(replay.note()));
    if (parser.isSet(QStringLiteral("loop")) && replayed.isEmpty())
        usageError(QStringLiteral("--loop needs --replay"));
    if (parser.isSet(QStringLiteral("speed")) && !session)
        usageError(QStringLiteral("--speed needs --replay with a session file"));
    if (parser.isSet(QStringLiteral("rate")) && session)
        usageError(QStringLiteral("--rate does not apply to a session, whose rows keep their "
                                  "times (--speed plays them faster)"));
    bool speedOk = false;
    const double speed = parser.value(QStringLiteral("speed")).toDouble(&speedOk);
    if (!speedOk || speed <= 0 || speed > 1000)
        usageError(QStringLiteral("--speed takes a factor above 0, up to 1000"));

    nodesim::StreamConfig config;
    if (session)
        config.format = sessionFormat(replay.timeline()->facts.options);
    if (!frameoptions::read(parser, &config.format, &error))
        usageError(error);
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
        nodesim::RecordingSource recorded(replay, parser.isSet(QStringLiteral("loop")), speed);
        nodesim::Streamer::Source source;
        if (session) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", replay.timeline()->facts.seconds);
            say("replaying " + std::to_string(replay.rows()) + " samples of a session of " +
                seconds + " s at their times");
            config.schedule = [&] { return recorded.seconds(); };
        }
        if (!replayed.isEmpty()) {
            if (!session)
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
