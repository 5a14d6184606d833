// nodesim: plays Motion Monitor's sensor receiver on a pseudo-terminal.
#include "frameoptions.h"
#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sinesource.h"
#include "streamer.h"
#include "version.h"

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
    long long value = parser.value(name).toLongLong(); // the default, when not given
    QString error;
    if (!frameoptions::number(parser, name, low, high, &value, &error))
        usageError(error);
    return long(value);
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
    frameoptions::add(parser);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        usageError(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    nodesim::StreamConfig config;
    QString error;
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

    Recording replay;
    if (parser.isSet(QStringLiteral("replay"))) {
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
