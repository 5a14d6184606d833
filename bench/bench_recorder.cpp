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

#include "recorderrun.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace recorderrun;

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
