#include "recorderoptions.h"

#include "frameoptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstring>
#include <unistd.h>

namespace
{

bool readOutputs(const QCommandLineParser &parser, OutputSettings *outputs, QString *error)
{
    using Field = OutputSettings::Field;
    OutputSettings::Given given;
    given.udp = parser.values("udp");
    given.udpBatch = parser.isSet("udp-batch");
    given.mqtt = parser.value("mqtt");
    given.topic = parser.value("mqtt-topic");
    given.qos = parser.value("mqtt-qos");
    given.mqttBatch = parser.isSet("mqtt-batch");
    given.user = parser.value("mqtt-user");
    given.passwordFile = parser.value("mqtt-password-file");
    given.cafile = parser.value("mqtt-cafile");
    Field field;
    QString reason;
    if (OutputSettings::read(given, outputs, &field, &reason))
        return true;
    const char *names[] = {
        "udp", "mqtt", "mqtt-topic", "mqtt-qos", "mqtt-user", "mqtt-password-file", "mqtt-cafile"};
    *error = QStringLiteral("--%1 %2").arg(names[int(field)], reason);
    return false;
}

} // namespace

void RecorderOptions::addTo(QCommandLineParser &parser)
{
    const RecorderOptions defaults;
    const OptionSet &o = defaults.options;
    parser.addOptions({
        {"record", "Acquire and log without a window, until stopped by SIGINT, SIGTERM or "
                   "SIGHUP (Ctrl-C, kill, a service stopped), or --duration."},
        {"device",
         QStringLiteral("Serial device of the receiver (default %1); waited for when "
                        "it is not there.")
             .arg(o.devicename),
         "path"},
        {"log-dir",
         QStringLiteral("Existing, writable directory for the log files and the session file "
                        "(default %1).")
             .arg(o.filename),
         "dir"},
        {"rows-per-file",
         QStringLiteral("Rows per log file, 0 for no limit (default %1).").arg(o.newfileLines),
         "n"},
        {"no-init", "Send no init message to the receiver (default: sent at the start and after "
                    "each reconnection)."},
        {"interval",
         QStringLiteral("Read interval in milliseconds, 1-1000 (default %1); bytes are also "
                        "read as they arrive.")
             .arg(defaults.intervalMs),
         "ms"},
        {"duration", "Stop after <seconds> (default: until stopped).", "seconds"},
        {"udp",
         QStringLiteral("Send each sample as a UDP datagram of JSON to [host:]port (host "
                        "default 127.0.0.1; PlotJuggler's UDP server listens on %1); "
                        "repeatable.")
             .arg(OutputSettings::defaultUdpPort),
         "[host:]port"},
        {"udp-batch", "Send one JSON array per read to --udp, not a datagram per sample."},
        {"mqtt",
         "Publish the samples, the session's lines and the recorder's status to this MQTT "
         "broker: mqtt://host[:port] or mqtts://host[:port] (TLS).",
         "url"},
        {"mqtt-topic", "Topic prefix (default motionmonitor/<host>/<device file name>).", "prefix"},
        {"mqtt-qos", "QoS of the samples, 0 or 1 (default 0).", "qos"},
        {"mqtt-batch", "Publish one JSON array per read to <prefix>/sample."},
        {"mqtt-user", "User name at the broker.", "name"},
        {"mqtt-password-file",
         QStringLiteral("File whose first line is the password (default: the environment "
                        "variable %1).")
             .arg(OutputSettings::passwordVariable),
         "file"},
        {"mqtt-cafile",
         "CA certificates to verify an mqtts:// broker by (default: the "
         "system's).",
         "file"},
    });
    frameoptions::add(parser);
}

bool RecorderOptions::read(const QCommandLineParser &parser, RecorderOptions *given, QString *error)
{
    RecorderOptions r;
    OptionSet &o = r.options;
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"")
                     .arg(parser.positionalArguments().constFirst());
        return false;
    }
    FrameFormat format;
    if (!frameoptions::read(parser, &format, error))
        return false;
    if (format.dataBytes < format.dataBytesNeeded()) {
        *error = QStringLiteral("--data-bytes %1 cannot hold the sensor slots in use, which "
                                "take %2 data bytes")
                     .arg(format.dataBytes)
                     .arg(format.dataBytesNeeded());
        return false;
    }
    o.frame = format;
    o.s1On = format.slot1Type != sensor::none;
    o.s2On = format.slot2Type != sensor::none;

    long long rows = o.newfileLines, interval = r.intervalMs, seconds = -1;
    if (!frameoptions::number(parser, "rows-per-file", 0, INT_MAX, &rows, error) ||
        !frameoptions::number(parser, "interval", 1, 1000, &interval, error) ||
        !frameoptions::number(parser, "duration", 1, INT_MAX, &seconds, error))
        return false;
    o.newfileLines = int(rows);
    r.intervalMs = int(interval);
    r.durationMs = seconds < 0 ? -1 : seconds * 1000;
    o.initMsgOn = !parser.isSet("no-init");

    if (parser.isSet("device"))
        o.devicename = parser.value("device");
    if (o.devicename.isEmpty()) {
        *error = QStringLiteral("--device needs the path of the receiver's serial device");
        return false;
    }
    if (parser.isSet("log-dir"))
        o.filename = parser.value("log-dir");
    const QFileInfo dir(o.filename);
    QString problem;
    if (!dir.exists())
        problem = QStringLiteral("no such directory");
    else if (!dir.isDir())
        problem = QStringLiteral("not a directory");
    else if (::access(QFile::encodeName(o.filename).constData(), W_OK | X_OK) != 0)
        problem = QStringLiteral("cannot be written to (%1)")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (!problem.isEmpty()) {
        *error = QStringLiteral("--log-dir %1: %2").arg(o.filename, problem);
        return false;
    }
    if (!readOutputs(parser, &r.outputs, error))
        return false;
    *given = r;
    return true;
}
