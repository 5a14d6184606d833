#pragma once
// The built `motionmonitor --record` run against the simulator's library on a
// pseudo-terminal, measured from outside: its CPU time and resident memory,
// and its log read back against the frames sent. bench_recorder and
// bench_outputs share it.

#include "streamer.h"

#include <QString>
#include <QStringList>

namespace recorderrun
{

constexpr double lineRate = 9600.0 / 10 / 14; // 8N1: ten bits a byte

// The CPU seconds and the resident kilobytes of a process, from /proc.
double cpuSeconds(qint64 pid);
long residentKb(qint64 pid);

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
    QString output;   // all it printed
};

// The frames of `config` sent by the simulator, or with `bulk` written as
// fast as the line takes them in large writes (no noise, no pace), so that
// neither the simulator's work per frame nor its pace bounds the rate; the
// recorder given `options` besides its device and a log directory of its own.
Result run(const nodesim::StreamConfig &config, const QStringList &options, bool bulk = false);

inline const char *verdict(bool met)
{
    return met ? "met" : "NOT MET";
}

} // namespace recorderrun
