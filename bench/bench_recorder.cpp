// The recorder at work: the built program, `motionmonitor --record`, logging
// the frames the simulator sends on a pseudo-terminal from a thread of this
// process. Three runs, each with its log read back against the frames sent
// (lost: frames passed over; duplicated: rows that match no frame next):
//
//  - at the line's pace (14-byte frames at 9600 baud, about 68 a second) for
//    `seconds`, as a user runs it (default options): the recorder's CPU time
//    as a share of one core while frames stream, and its resident memory;
//  - as fast as the pseudo-terminal delivers (--interval 1, --no-init): rows
//    logged per second from the first frame to the last, each row written to
//    its file before the next is taken (the logger writes every row alone);
//    once from the simulator at --rate 0, whose own work per frame may bound
//    the rate on a busy machine, once from frames written in bulk;
//  - a soak: `soak` frames with noise bytes between them, 100 000 a second
//    at most so that it lasts beyond a minute: resident memory sampled every
//    second, and how long it took.
//
//   bench_recorder [seconds] [soak]      (defaults 60 and 10000000)

#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sinesource.h"
#include "streamer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace
{

constexpr double lineRate = 9600.0 / 10 / 14; // 8N1: ten bits a byte

// The CPU seconds and the resident kilobytes of a process, from /proc.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // After the command's closing parenthesis: state is field 3, utime 14.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

long residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// Bytes the line holds for the recorder, not read yet.
int waitingOn(const std::string &device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int waiting = -1;
    if (fd >= 0) {
        ::ioctl(fd, FIONREAD, &waiting);
        ::close(fd);
    }
    return waiting;
}

struct Result {
    long sent = 0, logged = 0, lost = 0, duplicated = 0;
    double streamSeconds = 0; // from the line opened to the last frame sent
    double cpuShare = 0;      // of one core while frames streamed
    long rssPeakKb = 0;
    // Resident memory once a minute has passed (or, in a shorter run, ten
    // seconds), and how far it strayed from that afterwards.
    double rssBaseSeconds = 0;
    long rssBaseKb = 0;
    long rssStrayKb = 0;
    double totalSeconds = 0;
    QString lastLine; // the recorder's own account
};

// The log files in `dir`, in name order, against the first frames of `format`.
void compare(const QString &dir, const FrameFormat &format, Result &r)
{
    nodesim::SineSource sine(format);
    std::vector<Sample> sent;
    sent.reserve(size_t(r.sent));
    for (long i = 0; i < r.sent; ++i)
        sent.push_back(sine.next());
    size_t next = 0;
    for (const QString &name : QDir(dir).entryList({"*.txt"}, QDir::Files, QDir::Name)) {
        Recording recording;
        QString error;
        if (!recording.read(QDir(dir).filePath(name), &error))
            std::fprintf(stderr, "%s\n", qPrintable(error));
        nodesim::RecordingSource rows(recording, false);
        while (const auto row = rows.next()) {
            ++r.logged;
            // The next frame, or one a little further on (frames lost).
            const size_t end = std::min(sent.size(), next + 100000);
            const auto found = std::find(sent.begin() + long(next), sent.begin() + long(end), *row);
            if (found == sent.begin() + long(end)) {
                ++r.duplicated;
                continue;
            }
            r.lost += found - (sent.begin() + long(next));
            next = size_t(found - sent.begin()) + 1;
        }
    }
    r.lost += long(sent.size() - next);
}

// The frames of `config` sent by the simulator, or with `bulk` written as
// fast as the line takes them in large writes (no noise, no pace), so that
// neither the simulator's work per frame nor its pace bounds the rate.
Result run(const nodesim::StreamConfig &config, const QStringList &options, bool bulk = false)
{
    QTemporaryDir dir;
    nodesim::PseudoTerminal pty;
    QElapsedTimer wall;
    wall.start();
    std::atomic<qint64> openedMs{-1}, sentMs{-1};
    std::atomic<bool> stop{false};
    nodesim::StreamReport report;
    std::thread simulator([&] {
        nodesim::SineSource sine(config.format);
        if (bulk) {
            std::vector<uint8_t> frames;
            for (long n = 0; n < config.count; ++n)
                config.format.append(frames, sine.next());
            while (!pty.clientReady())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            openedMs = wall.elapsed();
            pty.write(frames.data(), frames.size(), [&] { return !stop; });
            sentMs = wall.elapsed();
            report.frames = config.count;
            return;
        }
        nodesim::Streamer streamer(
            pty, config, [&] { return std::optional<Sample>(sine.next()); },
            [&](const std::string &event) {
                if (event == "program opened the line" && openedMs < 0)
                    openedMs = wall.elapsed();
                else if (event.rfind("all ", 0) == 0)
                    sentMs = wall.elapsed();
            });
        report = streamer.run(stop);
    });

    QProcess recorder;
    recorder.setStandardOutputFile(dir.filePath("recorder.out"));
    recorder.start(MM_BINARY,
                   QStringList{"--record", "--device", QString::fromStdString(pty.devicePath()),
                               "--log-dir", dir.path()} +
                       options);
    recorder.waitForStarted();
    const qint64 pid = recorder.processId();
    Result r;
    double cpuAtOpen = -1, cpuAtSent = 0;
    std::vector<std::pair<qint64, long>> rss; // (ms, kB) every second
    // Sampled every 100 ms; the CPU time from the line's opening to the last
    // frame, the memory every second.
    for (int tick = 0; sentMs < 0 || waitingOn(pty.devicePath()) > 0; ++tick) {
        QThread::msleep(100);
        if (cpuAtOpen < 0 && openedMs >= 0)
            cpuAtOpen = cpuSeconds(pid);
        if (sentMs >= 0 && cpuAtSent == 0)
            cpuAtSent = cpuSeconds(pid);
        if (tick % 10)
            continue;
        rss.emplace_back(wall.elapsed(), residentKb(pid));
        r.rssPeakKb = std::max(r.rssPeakKb, rss.back().second);
    }
    const qint64 base = rss.back().first >= 70000 ? 60000 : 10000;
    for (const auto &[ms, kb] : rss) {
        if (ms < base)
            continue;
        if (r.rssBaseSeconds == 0)
            r.rssBaseSeconds = ms / 1000.0, r.rssBaseKb = kb;
        r.rssStrayKb = std::max(r.rssStrayKb, std::abs(kb - r.rssBaseKb));
    }
    ::kill(pid_t(pid), SIGTERM);
    recorder.waitForFinished(60000);
    stop = true;
    simulator.join();
    r.sent = report.frames;
    r.streamSeconds = (sentMs - openedMs) / 1000.0;
    r.cpuShare = (cpuAtSent - cpuAtOpen) / r.streamSeconds;
    r.totalSeconds = wall.elapsed() / 1000.0;
    QFile out(dir.filePath("recorder.out"));
    if (out.open(QIODevice::ReadOnly))
        r.lastLine = QString::fromLocal8Bit(out.readAll()).trimmed().section('\n', -1);
    compare(dir.path(), config.format, r);
    return r;
}

const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const long soak = argc > 2 ? std::max(1L, std::atol(argv[2])) : 10000000L;
    bool met = true;

    nodesim::StreamConfig line;
    line.rate = lineRate;
    line.count = long(lineRate * seconds);
    const Result pace = run(line, {});
    const bool paceMet = pace.lost == 0 && pace.duplicated == 0 && pace.cpuShare <= 0.01 &&
                         pace.rssPeakKb <= 30 * 1024;
    std::printf("line pace (%.1f frames/s for %.0f s, default options): %ld frames sent, %ld "
                "logged, %ld lost, %ld duplicated; CPU %.2f%% of one core (goal at most 1%%); "
                "resident at most %.1f MB (goal at most 30 MB) %s\n",
                lineRate, pace.streamSeconds, pace.sent, pace.logged, pace.lost, pace.duplicated,
                100 * pace.cpuShare, pace.rssPeakKb / 1024.0, verdict(paceMet));
    std::fflush(stdout);
    met = met && paceMet;

    nodesim::StreamConfig fast;
    fast.rate = 0;
    fast.count = 2000000;
    for (const bool bulk : {false, true}) {
        const Result r = run(fast, {"--interval", "1", "--no-init"}, bulk);
        const double rate = r.logged / r.streamSeconds;
        const bool rateMet = r.lost == 0 && r.duplicated == 0 && rate >= 200000;
        std::printf("as fast as the pseudo-terminal delivers (--interval 1), %s: %ld frames in "
                    "%.2f s, %ld logged, %ld lost, %ld duplicated: %.0f rows/s, each flushed "
                    "(goal at least 200000); recorder CPU %.0f%% of one core %s\n",
                    bulk ? "frames written in bulk" : "from nodesim --rate 0", r.sent,
                    r.streamSeconds, r.logged, r.lost, r.duplicated, rate, 100 * r.cpuShare,
                    verdict(rateMet));
        std::fflush(stdout);
        met = met && rateMet;
    }

    nodesim::StreamConfig noisy;
    // Paced, so that the run lasts beyond its first minute.
    noisy.rate = 100000;
    noisy.count = soak;
    noisy.noiseBytes = 3;
    const Result s = run(noisy, {"--interval", "1", "--no-init"});
    const bool flat = s.rssStrayKb <= 1024;
    const bool soakMet = s.lost == 0 && s.duplicated == 0 && s.logged == soak && flat;
    std::printf("soak (%ld frames at up to %.0f a second, 3 noise bytes between frames): %ld "
                "logged, %ld lost, %ld "
                "duplicated (goal 0, 0); resident at most %.1f MB, ",
                soak, noisy.rate, s.logged, s.lost, s.duplicated, s.rssPeakKb / 1024.0);
    std::printf("%.1f MB at %.0f s and within %.2f MB of that afterwards (goal within 1 MB after "
                "the first minute%s); ",
                s.rssBaseKb / 1024.0, s.rssBaseSeconds, s.rssStrayKb / 1024.0,
                s.rssBaseSeconds < 60 ? ", measured from 10 s in a run this short" : "");
    std::printf("%.1f s streaming, %.1f s in all %s\n  recorder: %s\n", s.streamSeconds,
                s.totalSeconds, verdict(soakMet), qPrintable(s.lastLine));
    met = met && soakMet;
    return met ? 0 : 1;
}
