#include "linkwatch.h"

#include "serialhandler.h"

namespace
{
constexpr qint64 quietLimit = 2000;
constexpr qint64 reopenInterval = 1000;
} // namespace

void LinkWatch::start(qint64 now)
{
    active = true;
    saidNoData = saidNoFrame = false;
    bytes = link.bytesReceived();
    frames = link.frameSearch().framesFound();
    bytesAt = framesAt = lastAttempt = now;
    recent.clear();
}

QStringList LinkWatch::check(qint64 now, bool *reopened)
{
    QStringList lines;
    *reopened = false;
    if (!active)
        return lines;
    if (!link.isOpen()) {
        if (now - lastAttempt >= reopenInterval) {
            lastAttempt = now;
            if ((*reopened = link.reopen())) {
                lines << "Serial port reopened";
                bytesAt = framesAt = now;
            }
        }
        return lines;
    }
    const long long byteCount = link.bytesReceived();
    const long long frameCount = link.frameSearch().framesFound();
    if (byteCount != bytes)
        bytes = byteCount, bytesAt = now;
    if (frameCount != frames)
        frames = frameCount, framesAt = now;
    // The front is the newest check at least a second old.
    recent.emplace_back(now, frames);
    while (recent.size() > 2 && now - recent[1].first >= 1000)
        recent.pop_front();
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
    return lines;
}

long long LinkWatch::samplesPerSecond() const
{
    const qint64 span = recent.empty() ? 0 : recent.back().first - recent.front().first;
    return span > 0 ? (recent.back().second - recent.front().second) * 1000 / span : 0;
}
