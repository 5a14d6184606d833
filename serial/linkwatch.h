#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <utility>

class serialhandler;

// Watches the serial link while acquisition runs: reopens a receiver that
// was lost about once a second, warns once per start when bytes arrive but
// never make a frame, when none arrive, and when frames keep coming with the
// same number of stray bytes in front of each (frames longer than the
// format), and keeps the figures of the status bar, counted from the start.
// Times are in milliseconds on any steady clock.
class LinkWatch
{
public:
    explicit LinkWatch(serialhandler &link) : link(link) {}

    // Acquisition started on an open port, or stopped.
    void start(qint64 now);
    void stop() { active = false; }
    // Reading goes on after a pause that is no fault of the link's (a spell
    // of test mode): the quiet spells are counted from now.
    void resume(qint64 now);
    bool isActive() const { return active; }

    // About twice a second: the warnings the user is to read now. Reopens a
    // lost port; *reopened is set when it did.
    QStringList check(qint64 now, bool *reopened);
    // After each read of the port: the rate is measured over whole reads, so
    // it is right at any read interval.
    void noteRead(qint64 now);

    // The port was lost and is being reopened.
    bool lost() const;
    // Samples per second over the reads of about the last second.
    long long samplesPerSecond() const;
    // Frames taken, and bytes that belonged to no frame, since the start.
    long long frames() const;
    long long strayBytes() const;

private:
    serialhandler &link;
    bool active = false;
    bool saidNoData = false;
    bool saidNoFrame = false;
    bool saidStray = false;
    qint64 lastAttempt = 0;
    qint64 bytesAt = 0, framesAt = 0; // when the counts last changed
    long long bytesSeen = 0, framesSeen = 0;
    long long framesAtStart = 0, strayAtStart = 0;
    std::deque<std::pair<qint64, long long>> reads; // (time, frames) over the last second
};
