#pragma once
// Helpers shared by the serial link and receiver simulator tests.

#include "frameformat.h"
#include "serialhandler.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QTest>

#include <QByteArray>

#include <array>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace serialtest
{

using Tuple = std::array<int, 6>;
using OptionArray = std::array<int, 9>;

// The option array of the untouched options form.
inline std::array<int, 9> defaultOptions()
{
    return {12, -1, -1, 55, 1, 0, 1, 6, 6};
}

// The tuple the program emits for a sample the simulator encoded.
inline Tuple tupleOf(const nodesim::Sample &s)
{
    return {s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]};
}

// Records every SendData tuple of one serialhandler.
struct SampleLog {
    std::vector<Tuple> tuples;
    explicit SampleLog(serialhandler &serial)
    {
        QObject::connect(
            &serial,
            qOverload<int16_t, int16_t, int16_t, int16_t, int16_t, int16_t>(
                &serialhandler::SendData),
            [this](int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2) {
                tuples.push_back({a0, a1, a2, g0, g1, g2});
            });
    }
    int count() const { return static_cast<int>(tuples.size()); }
};

// Records the message text channel.
struct TextLog {
    QStringList lines;
    explicit TextLog(serialhandler &serial)
    {
        QObject::connect(&serial, &serialhandler::SendText,
                         [this](const QString &text) { lines << text; });
    }
};

// Collects the debug output while it lives (and keeps it off the console).
class DebugLog
{
public:
    DebugLog()
    {
        collected().clear();
        previous = qInstallMessageHandler(&DebugLog::handle);
    }
    ~DebugLog() { qInstallMessageHandler(previous); }
    DebugLog(const DebugLog &) = delete;
    DebugLog &operator=(const DebugLog &) = delete;
    QStringList &lines() { return collected(); }
    void clear() { collected().clear(); }

private:
    static QStringList &collected()
    {
        static QStringList list;
        return list;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        collected() << text;
    }
    QtMessageHandler previous;
};

inline int openDescriptorCount()
{
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                                .size());
}

// Bytes waiting to be read on this process's open descriptor of `device`
// (libserial's), or -1 when the process holds none.
inline int queuedOn(const std::string &device)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &entry :
         fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        if (QFileInfo(fds.filePath(entry)).symLinkTarget() != QString::fromStdString(device))
            continue;
        int waiting = 0;
        if (::ioctl(entry.toInt(), FIONREAD, &waiting) == 0)
            return waiting;
    }
    return -1;
}

// A pseudo-terminal hands written bytes to the reading side a moment later:
// waits until exactly `bytes` wait there.
inline bool waitQueued(const std::string &device, int bytes, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (queuedOn(device) != bytes) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(1);
    }
    return true;
}

// Runs read passes until `log` holds `count` samples or `timeoutMs` ran out.
inline bool readUntil(serialhandler &serial, const SampleLog &log, int count, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    while (log.count() < count) {
        if (timer.elapsed() > timeoutMs)
            return false;
        const int before = log.count();
        serial.readSerial();
        if (log.count() == before)
            QTest::qWait(2);
    }
    return true;
}

} // namespace serialtest

namespace QTest
{
// Failure messages show the tuples.
template <> inline char *toString(const serialtest::Tuple &tuple)
{
    QByteArray text = "(";
    for (size_t i = 0; i < tuple.size(); ++i)
        text += (i ? ", " : "") + QByteArray::number(tuple[i]);
    return qstrdup(text + ")");
}
} // namespace QTest
