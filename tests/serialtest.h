#pragma once
// Helpers shared by the serial link and receiver simulator tests.

#include "frameformat.h"
#include "serialhandler.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTest>

#include <array>
#include <sys/ioctl.h>
#include <vector>

namespace serialtest
{

using Tuple = std::array<int, 6>;
using OptionArray = std::array<int, 9>;
using Bytes = std::vector<uint8_t>;

// The option array of the untouched options form.
inline OptionArray defaultOptions()
{
    return {12, -1, -1, 55, 1, 0, 1, 6, 6};
}

// The tuple the program emits for a sample the simulator encoded.
inline Tuple tupleOf(const nodesim::Sample &s)
{
    return {s.acc[0], s.acc[1], s.acc[2], s.gyro[0], s.gyro[1], s.gyro[2]};
}

// Configures `serial` and opens it on `device`.
inline bool openOn(serialhandler &serial, const QString &device,
                   OptionArray options = defaultOptions())
{
    serial.updateOptions(options.data());
    serial.receiveDevicename(device);
    return serial.OpenUsb(10) == 1;
}

// Records every SendData tuple of one serialhandler.
struct SampleLog {
    std::vector<Tuple> tuples;
    explicit SampleLog(serialhandler &serial)
    {
        QObject::connect(&serial,
                         qOverload<int16_t, int16_t, int16_t, int16_t, int16_t, int16_t>(
                             &serialhandler::SendData),
                         [this](int a0, int a1, int a2, int g0, int g1, int g2) {
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
struct DebugLog {
    static inline QStringList lines;
    QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { lines << text; });
    DebugLog() { lines.clear(); }
    ~DebugLog() { qInstallMessageHandler(previous); }
};

inline QStringList openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

inline int openDescriptorCount()
{
    return static_cast<int>(openDescriptors().size());
}

// Bytes waiting to be read on this process's open descriptor of `device`
// (libserial's), or -1 when the process holds none.
inline int queuedOn(const std::string &device)
{
    for (const QString &fd : openDescriptors()) {
        int waiting = 0;
        if (QFileInfo(QStringLiteral("/proc/self/fd/") + fd).symLinkTarget() ==
                QString::fromStdString(device) &&
            ::ioctl(fd.toInt(), FIONREAD, &waiting) == 0)
            return waiting;
    }
    return -1;
}

// Runs read passes until `log` holds `count` samples or the time ran out.
inline bool readUntil(serialhandler &serial, const SampleLog &log, int count)
{
    return QTest::qWaitFor(
        [&] {
            serial.readSerial();
            return log.count() >= count;
        },
        20000);
}

} // namespace serialtest

namespace QTest
{
// Failure messages show the tuples.
inline QByteArray describe(const serialtest::Tuple &tuple)
{
    QByteArray text = "(";
    for (size_t i = 0; i < tuple.size(); ++i)
        text += (i ? ", " : "") + QByteArray::number(tuple[i]);
    return text + ")";
}
template <> inline char *toString(const serialtest::Tuple &tuple)
{
    return qstrdup(describe(tuple));
}
template <> inline char *toString(const std::vector<serialtest::Tuple> &tuples)
{
    QByteArray text;
    for (const serialtest::Tuple &tuple : tuples)
        text += describe(tuple);
    return qstrdup("[" + text + "]");
}
} // namespace QTest
