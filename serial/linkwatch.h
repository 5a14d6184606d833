#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <utility>

class serialhandler;

// Watches the serial link while acquisition runs, checked about twice a
// second: reopens a receiver that was lost about once a second, tells once
// per start when bytes arrive but never make a frame or when none arrive,
// and keeps the figures the status bar shows. Times are in milliseconds on
// any steady clock.
class LinkWatch
{
public:
    explicit LinkWatch(serialhandler &link) : link(link) {}

    // Acquisition started on an open port, or stopped.
    void start(qint64 now);
    void stop() { active = false; }
    bool isActive() const { return active; }

    // The lines the user is to read now; *reopened is set when the port
    // was opened again after a loss.
    QStringList check(qint64 now, bool *reopened);
    // Samples per second over the last second.
    long long samplesPerSecond() const;

private:
    serialhandler &link;
    bool active = false;
    bool saidNoData = false;
    bool saidNoFrame = false;
    qint64 lastAttempt = 0;
    qint64 bytesAt = 0, framesAt = 0; // when the counts last changed
    long long bytes = 0, frames = 0;
    std::deque<std::pair<qint64, long long>> recent; // (time, frames) over the last second
};
