#include "linkwatch.h"

#include "serialhandler.h"

namespace
{
constexpr qint64 quietLimit = 2000;
constexpr qint64 reopenInterval = 1000;
// Frames in a row with the same stray bytes in front before that is said.
constexpr long long strayRunLimit = 20;
} // namespace

void LinkWatch::start(qint64 now)
{
    active = true;
    saidNoData = saidNoFrame = saidStray = false;
    bytesSeen = link.bytesReceived();
    framesSeen = framesAtStart = link.frameSearch().framesFound();
    strayAtStart = link.frameSearch().bytesDropped();
    bytesAt = framesAt = lastAttempt = now;
    reads.clear();
}

void LinkWatch::resume(qint64 now)
{
    bytesAt = framesAt = lastAttempt = now;
    reads.clear();
}

QStringList LinkWatch::check(qint64 now, bool *reopened)
{
    QStringList lines;
    *reopened = false;
    if (!active)
        return lines;
    if (!link.isOpen()) {
        reads.clear();
        if (now - lastAttempt >= reopenInterval) {
            lastAttempt = now;
            if ((*reopened = link.reopen()))
                bytesAt = framesAt = now;
        }
        return lines;
    }
    const long long byteCount = link.bytesReceived();
    const long long frameCount = link.frameSearch().framesFound();
    if (byteCount != bytesSeen)
        bytesSeen = byteCount, bytesAt = now;
    if (frameCount != framesSeen)
        framesSeen = frameCount, framesAt = now;
    if (!saidNoData && now - bytesAt >= quietLimit) {
        saidNoData = true;
        lines << "No data from the receiver for 2 s";
    }
    // Bytes keep coming, yet none has ended a frame for a while.
    if (!saidNoFrame && now - framesAt >= quietLimit && bytesAt > framesAt &&
        now - bytesAt < quietLimit) {
        saidNoFrame = true;
        lines << "No frame matches the frame format: check the data, start and end bytes in the "
                 "options";
    }
    const FrameSearch &search = link.frameSearch();
    if (!saidStray && search.strayBeforeLast() > 0 && frames() >= strayRunLimit &&
        search.sameStrayFrames() >= strayRunLimit) {
        saidStray = true;
        lines << QStringLiteral("Each frame comes with %1 stray bytes in front of it: the "
                                "receiver's frames may not fit the frame format. Check the "
                                "data bytes in the options")
                     .arg(search.strayBeforeLast());
    }
    return lines;
}

void LinkWatch::noteRead(qint64 now)
{
    // The front is the newest read at least a second old.
    reads.emplace_back(now, link.frameSearch().framesFound());
    while (reads.size() > 2 && now - reads[1].first >= 1000)
        reads.pop_front();
}

bool LinkWatch::lost() const
{
    return active && !link.isOpen();
}

long long LinkWatch::samplesPerSecond() const
{
    const qint64 span = reads.empty() ? 0 : reads.back().first - reads.front().first;
    return span > 0 ? (reads.back().second - reads.front().second) * 1000 / span : 0;
}

long long LinkWatch::frames() const
{
    return link.frameSearch().framesFound() - framesAtStart;
}

long long LinkWatch::strayBytes() const
{
    return link.frameSearch().bytesDropped() - strayAtStart;
}
