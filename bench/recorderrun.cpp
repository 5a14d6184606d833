#include "recorderrun.h"

#include "pseudoterminal.h"
#include "recording.h"
#include "recordingsource.h"
#include "sinesource.h"
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

namespace recorderrun
{

namespace
{

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

} // namespace

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

Result run(const nodesim::StreamConfig &config, const QStringList &options, bool bulk)
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
        r.output = QString::fromLocal8Bit(out.readAll()).trimmed();
    r.lastLine = r.output.section('\n', -1);
    compare(dir.path(), config.format, r);
    return r;
}

} // namespace recorderrun
