#pragma once

#include "frameformat.h"
#include "outputsettings.h"
#include "sample.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class MqttOutput;
class SampleText;
class UdpOutput;

// The live outputs: every sample, with its time, to the UDP destinations and
// the MQTT broker of the settings, and the session file's lines to the
// broker. The owner feeds them from its acquisition (taken, polled and
// sessionLine go to the slots of the same names), in its own thread.
// Nothing here waits on a receiver: a slow or absent one costs dropped
// messages, counted and said, never a sample taken or a row logged.
//
// MQTT topics, under the prefix: `sample` (the JSON of each sample, or an
// array per read), `influx` (InfluxDB line protocol, the lines of up to
// influxIntervalMs in one message), `status` (retained "online"/"offline", and "offline" as the
// Last Will), `session` (retained: the session file's first line), `event`
// (every other line the session file gets but its time marks).
class Outputs : public QObject
{
    Q_OBJECT
public:
    // PlotJuggler's UDP server reads at most 2048 bytes of a datagram: an
    // array per read is cut into datagrams no longer than that.
    static constexpr int longestDatagram = 2048;
    // Influx lines gather for at most this long, or this many bytes, and go
    // out as one message: Telegraf stores them alike, and the broker gets a
    // few messages a second for them rather than one per read.
    static constexpr int influxIntervalMs = 250;
    static constexpr qsizetype longestInflux = 256 * 1024;

    explicit Outputs(QObject *parent = nullptr);
    // close()
    ~Outputs() override;

    // Opens the outputs of `settings` for the samples of `device` in
    // `format` (its slots in use give the keys; the device names the topic
    // prefix when the settings give none, and the influx tags). What is open
    // is closed first, unless the same is asked for again. Failures are
    // said (message()) and retried, never returned.
    void open(const OutputSettings &settings, const QString &device, const FrameFormat &format);
    // Closes every output: the broker gets "offline" and a clean
    // disconnection (waited for at most about 2.5 s).
    void close();
    bool isOpen() const { return bool(text); }
    const OutputSettings &settings() const { return given; }
    // "udp: up · mqtt: down, 120 dropped" (the UDP destinations as one, down
    // while any is); empty while none is open.
    QString statusText() const;

public slots:
    // A sample taken, with when it reached the computer (nanoseconds since
    // the Unix epoch). Its time goes out in microseconds, strictly rising.
    void take(const Sample &sample, qint64 unixNs);
    // The samples of one read are all taken: their messages and arrays go out.
    void polled();
    void sessionLine(const char *event, const QByteArray &line);

signals:
    // A line for the user: an output connected, down (once per cause) or back.
    void message(const QString &line);
    // statusText() may have changed.
    void changed();

private:
    void sendUdp(const QByteArray &datagram);
    void flushUdpArray();
    void flushInflux();

    OutputSettings given;
    QString device;
    FrameFormat format;
    std::unique_ptr<SampleText> text;
    std::vector<std::unique_ptr<UdpOutput>> udp;
    std::unique_ptr<MqttOutput> mqtt;
    QByteArray json;                     // the sample's
    QByteArray udpArray;                 // this read's, not sent yet
    QByteArray mqttArray;                // this read's
    std::vector<QByteArray> mqttSamples; // this read's, one message each
    QByteArray influx;                   // lines not sent yet
    QTimer influxTimer;                  // runs while influx holds lines
    qint64 lastNs = 0;
};
