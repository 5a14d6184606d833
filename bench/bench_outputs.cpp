// The live outputs at work: the built `motionmonitor --record` sending to a UDP receiver of this
// process and to Debian's mosquitto (started here on a free port of 127.0.0.1), with mosquitto_sub
// counting what a subscriber receives. Three runs:
//
//  - at the line's pace for `seconds`, both outputs on (a datagram and a message per sample, an
//    influx message per read): the recorder's CPU time as a share of one core and its resident
//    memory, as bench_recorder measures them without outputs;
//  - as fast as the simulator sends (nodesim --rate 0), `frames` frames, once without outputs and
//    once with both, arrays per read: the rate with outputs against the rate without, and the
//    samples the subscriber received;
//  - a lab on one machine: `rigs` recorders, each with its own simulator (the nodesim program) at
//    the line's pace for `seconds`, all publishing to one broker: the samples one subscriber
//    received from each, and the recorders' CPU time together as a share of one core.
//
//   bench_outputs [seconds] [frames] [rigs]      (defaults 60, 500000 and 20)

#include "recorderrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace recorderrun;

namespace
{

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// mosquitto on a free port, and a mosquitto_sub writing every message on `topics` to a file.
struct Broker {
    QTemporaryDir dir;
    quint16 port = freePort();
    QProcess broker, subscriber;
    explicit Broker(const QString &topics)
    {
        QFile conf(dir.filePath("mosquitto.conf"));
        conf.open(QIODevice::WriteOnly);
        // No limit on what waits for the subscriber: the bench counts what the program sends.
        conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\n"
                                  "max_queued_messages 0\n")
                       .arg(port)
                       .toUtf8());
        conf.close();
        broker.start("mosquitto", {"-c", conf.fileName()});
        for (QTcpSocket s; s.state() != QAbstractSocket::ConnectedState; QThread::msleep(50)) {
            s.connectToHost(QHostAddress::LocalHost, port);
            s.waitForConnected(1000);
        }
        subscriber.setStandardOutputFile(dir.filePath("received"));
        subscriber.start("mosquitto_sub", {"-p", QString::number(port), "-v", "-t", topics});
        subscriber.waitForStarted();
        QThread::msleep(500);
    }
    ~Broker()
    {
        for (QProcess *p : {&subscriber, &broker}) {
            p->terminate();
            p->waitForFinished();
        }
    }
    QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port); }
    // Samples received per topic ("timestamp" once per sample in JSON, one influx line per
    // sample), once the file stops growing.
    std::map<QString, long> received()
    {
        QFile file(dir.filePath("received"));
        for (qint64 size = -1; size != file.size(); QThread::msleep(2000))
            size = file.size();
        std::map<QString, long> counts;
        file.open(QIODevice::ReadOnly);
        QString topic;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            if (line.startsWith("motionmonitor/") || line.startsWith("bench/"))
                topic = QString::fromUtf8(line.left(line.indexOf(' ')));
            counts[topic] += topic.endsWith("/influx") ? 1 : line.count("\"timestamp\"");
        }
        return counts;
    }
};

// A UDP receiver on a thread of its own: the samples of the datagrams it gets.
struct UdpReceiver {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    quint16 port = 0;
    std::atomic<long> samples{0};
    std::atomic<bool> stop{false};
    std::thread reader;
    UdpReceiver()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr *>(&a), length);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        port = ntohs(a.sin_port);
        const timeval tick{0, 200000};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        reader = std::thread([this] {
            char datagram[65536];
            while (!stop) {
                const ssize_t n = ::recv(fd, datagram, sizeof datagram, 0);
                if (n > 0)
                    samples += QByteArray::fromRawData(datagram, int(n)).count("\"timestamp\"");
            }
        });
    }
    ~UdpReceiver()
    {
        stop = true;
        reader.join();
        ::close(fd);
    }
};

long lines(const QString &dir)
{
    long n = 0;
    for (const QFileInfo &f : QDir(dir).entryInfoList({"*.txt"}, QDir::Files)) {
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly))
            n += file.readAll().count('\n') - 1; // the header
    }
    return n;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    const long frames = argc > 2 ? std::max(1L, std::atol(argv[2])) : 500000L;
    const int rigs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
    bool met = true;

    {
        Broker broker("bench/#");
        UdpReceiver udp;
        nodesim::StreamConfig line;
        line.rate = lineRate;
        line.count = long(lineRate * seconds);
        const Result without = run(line, {});
        const Result r = run(line, {"--udp", QString::number(udp.port), "--mqtt", broker.url(),
                                    "--mqtt-topic", "bench/pace"});
        auto got = broker.received();
        const bool ok =
            r.lost == 0 && r.duplicated == 0 && r.cpuShare <= 0.01 && r.rssPeakKb <= 30 * 1024;
        std::printf("line pace with both outputs (%.1f frames/s for %.0f s, a datagram and a "
                    "message per sample): %ld sent, %ld logged, %ld lost; received %ld by UDP, "
                    "%ld samples and %ld influx lines by MQTT; CPU %.2f%% of one core (goal at "
                    "most 1%%); resident at most %.1f MB (goal at most 30 MB) %s\n  without "
                    "outputs in the same run: CPU %.2f%%, resident at most %.1f MB\n",
                    lineRate, r.streamSeconds, r.sent, r.logged, r.lost, long(udp.samples),
                    got["bench/pace/sample"], got["bench/pace/influx"], 100 * r.cpuShare,
                    r.rssPeakKb / 1024.0, verdict(ok), 100 * without.cpuShare,
                    without.rssPeakKb / 1024.0);
        std::fflush(stdout);
        met = met && ok;
    }

    {
        nodesim::StreamConfig fast;
        fast.rate = 0;
        fast.count = frames;
        const QStringList base{"--interval", "1", "--no-init"};
        const Result without = run(fast, base);
        Broker broker("bench/#");
        UdpReceiver udp;
        const Result with = run(
            fast, base + QStringList{"--udp", QString::number(udp.port), "--udp-batch", "--mqtt",
                                     broker.url(), "--mqtt-topic", "bench/fast", "--mqtt-batch"});
        auto got = broker.received();
        const double rateWithout = without.logged / without.streamSeconds,
                     rateWith = with.logged / with.streamSeconds;
        const bool ok = with.lost == 0 && without.lost == 0 && rateWith >= 0.8 * rateWithout &&
                        got["bench/fast/sample"] == frames && got["bench/fast/influx"] == frames;
        std::printf("as fast as nodesim --rate 0 sends (%ld frames): without outputs %.0f rows/s, "
                    "with both (arrays per read) %.0f rows/s, %.2f of it (goal at least 0.8); "
                    "the subscriber received %ld samples and %ld influx lines of %ld (goal all), "
                    "UDP %ld; recorder CPU %.0f%% and %.0f%% of one core %s\n",
                    frames, rateWithout, rateWith, rateWith / rateWithout, got["bench/fast/sample"],
                    got["bench/fast/influx"], frames, long(udp.samples), 100 * without.cpuShare,
                    100 * with.cpuShare, verdict(ok));
        for (const QString &said : with.output.split('\n'))
            if (said.startsWith("mqtt") || said.startsWith("udp") || said.startsWith("Recording"))
                std::printf("  recorder: %s\n", qPrintable(said));
        std::fflush(stdout);
        met = met && ok;
    }

    {
        Broker broker("motionmonitor/+/+/sample");
        QTemporaryDir dir;
        const long count = long(lineRate * seconds);
        std::vector<std::unique_ptr<QProcess>> sims, recorders;
        for (int n = 0; n < rigs; ++n) {
            const QString name = QStringLiteral("%1").arg(n, 2, 10, QChar('0'));
            const QString rig = dir.filePath("rig" + name), tty = rig + "/ttyUSB" + name;
            QDir().mkpath(rig);
            sims.push_back(std::make_unique<QProcess>());
            sims.back()->start(NODESIM_BINARY, {"--link", tty, "--count", QString::number(count)});
            while (!QFileInfo(tty).isSymLink())
                QThread::msleep(10);
            recorders.push_back(std::make_unique<QProcess>());
            recorders.back()->setStandardOutputFile(rig + "/out");
            recorders.back()->start(
                MM_BINARY, {"--record", "--device", tty, "--log-dir", rig, "--mqtt", broker.url()});
        }
        // From the moment every rig logs to its last frame.
        const auto logged = [&] {
            long least = count;
            for (int n = 0; n < rigs; ++n)
                least = std::min(
                    least, lines(dir.filePath(QStringLiteral("rig%1").arg(n, 2, 10, QChar('0')))));
            return least;
        };
        while (logged() < 1)
            QThread::msleep(100);
        const auto cpu = [&] {
            double s = 0;
            for (const auto &r : recorders)
                s += cpuSeconds(r->processId());
            return s;
        };
        QElapsedTimer wall;
        wall.start();
        const double cpuAtStart = cpu();
        while (logged() < count)
            QThread::msleep(1000);
        const double share = (cpu() - cpuAtStart) / (wall.elapsed() / 1000.0);
        for (const auto &r : recorders) {
            r->terminate();
            r->waitForFinished();
        }
        auto got = broker.received();
        long least = count, total = 0;
        for (int n = 0; n < rigs; ++n) {
            const long k = got[QStringLiteral("motionmonitor/%1/ttyUSB%2/sample")
                                   .arg(QSysInfo::machineHostName())
                                   .arg(n, 2, 10, QChar('0'))];
            least = std::min(least, k);
            total += k;
        }
        const bool ok = least == count && share <= 0.20;
        std::printf("a lab of %d recorders at the line's pace for %d s, one broker: the "
                    "subscriber received %ld samples of %ld (goal all; the fewest from one rig "
                    "%ld of %ld); the recorders together %.1f%% of one core (goal at most 20%%) "
                    "%s\n",
                    rigs, seconds, total, count * rigs, least, count, 100 * share, verdict(ok));
        met = met && ok;
        for (const auto &s : sims) {
            s->terminate();
            s->waitForFinished();
        }
    }
    return met ? 0 : 1;
}
