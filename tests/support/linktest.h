#pragma once
// Helpers shared by the tests of the serial link over pseudo-terminals.

#include "pseudoterminal.h"
#include "serialhandler.h"
#include "values.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <QTest>

#include <sys/ioctl.h>

namespace linktest
{

using mmtest::Values;

inline OptionArray defaultOptions()
{
    return FrameFormat().toOptionArray();
}

inline QString pathOf(const nodesim::PseudoTerminal &pty)
{
    return QString::fromStdString(pty.devicePath());
}

// Configures `serial` and opens it on `device`.
inline bool openOn(serialhandler &serial, const QString &device,
                   OptionArray options = defaultOptions())
{
    serial.updateOptions(options.data());
    serial.receiveDevicename(device);
    return serial.OpenUsb(10) == 1;
}

// Records every SendData of one serialhandler.
struct SampleLog {
    std::vector<Values> tuples;
    explicit SampleLog(serialhandler &serial)
    {
        QObject::connect(&serial, &serialhandler::SendData,
                         [this](int a0, int a1, int a2, int g0, int g1, int g2) {
                             tuples.push_back({a0, a1, a2, g0, g1, g2});
                         });
    }
    int count() const { return int(tuples.size()); }
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
    return QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

// Bytes waiting to be read on this process's descriptor of `device`, or -1
// when it holds none.
inline int queuedOn(const QString &device)
{
    for (const QString &fd : openDescriptors()) {
        int waiting = 0;
        if (QFileInfo("/proc/self/fd/" + fd).symLinkTarget() == device &&
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

} // namespace linktest
