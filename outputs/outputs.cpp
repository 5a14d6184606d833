#include "outputs.h"

#include "mqttoutput.h"
#include "outputhealth.h"
#include "sampletext.h"
#include "udpoutput.h"

#include <QSysInfo>

Outputs::Outputs(QObject *parent) : QObject(parent)
{
    influxTimer.setSingleShot(true);
    influxTimer.setInterval(influxIntervalMs);
    connect(&influxTimer, &QTimer::timeout, this, &Outputs::flushInflux);
}

Outputs::~Outputs()
{
    close();
}

void Outputs::open(const OutputSettings &settings, const QString &dev, const FrameFormat &f)
{
    const auto sameFormat = [&] {
        return f.slot1Type == format.slot1Type && f.slot2Type == format.slot2Type;
    };
    if (isOpen() && settings == given && dev == device && sameFormat())
        return;
    close();
    given = settings;
    device = dev;
    format = f;
    if (!settings.any())
        return;
    text = std::make_unique<SampleText>(format, QSysInfo::machineHostName(), device);
    for (const OutputSettings::Destination &d : settings.udp) {
        udp.push_back(std::make_unique<UdpOutput>(d));
        connect(udp.back().get(), &UdpOutput::message, this, &Outputs::message);
        connect(udp.back().get(), &UdpOutput::changed, this, &Outputs::changed);
        if (!udp.back()->health().isUp())
            emit message(udp.back()->health().text());
    }
    if (!settings.mqtt.host.isEmpty()) {
        const QString prefix =
            settings.topic.isEmpty() ? OutputSettings::defaultTopic(device) : settings.topic;
        mqtt = std::make_unique<MqttOutput>(settings, prefix, device);
        connect(mqtt.get(), &MqttOutput::message, this, &Outputs::message);
        connect(mqtt.get(), &MqttOutput::changed, this, &Outputs::changed);
    }
    emit changed();
}

void Outputs::close()
{
    if (!isOpen())
        return;
    polled();
    flushInflux();
    mqtt.reset();
    udp.clear();
    text.reset();
    emit changed();
}

QString Outputs::statusText() const
{
    QStringList parts;
    // The destinations as one: their names are in the lines said.
    bool up = true;
    long long drops = 0;
    for (const auto &u : udp) {
        up = up && u->health().isUp();
        drops += u->health().drops();
    }
    if (!udp.empty())
        parts << OutputHealth::text(QStringLiteral("udp"), up, drops);
    if (mqtt)
        parts << mqtt->health().text();
    return parts.join(QStringLiteral(" · "));
}

void Outputs::take(const Sample &sample, qint64 unixNs)
{
    if (!isOpen())
        return;
    // Samples read in a burst may lie less than the microsecond the JSON
    // carries apart; a time far back is a new run on a clock set back.
    if (unixNs < lastNs + 1000 && unixNs > lastNs - 1000000000)
        unixNs = lastNs + 1000;
    lastNs = unixNs;
    json.clear();
    text->appendJson(json, sample, unixNs);
    if (!udp.empty() && !given.udpBatch) {
        sendUdp(json);
    } else if (!udp.empty()) {
        if (udpArray.size() + json.size() + 2 > longestDatagram)
            flushUdpArray();
        udpArray.append(udpArray.isEmpty() ? '[' : ',').append(json);
    }
    if (!mqtt)
        return;
    if (given.mqttBatch)
        mqttArray.append(mqttArray.isEmpty() ? '[' : ',').append(json);
    else
        mqttSamples.push_back(json);
    if (!influx.isEmpty())
        influx.append('\n');
    text->appendInflux(influx, sample, unixNs);
    if (influx.size() >= longestInflux)
        flushInflux();
    else if (!influxTimer.isActive())
        influxTimer.start();
}

void Outputs::polled()
{
    flushUdpArray();
    for (const QByteArray &message : mqttSamples)
        mqtt->publish("sample", message, given.qos);
    mqttSamples.clear();
    if (!mqttArray.isEmpty()) {
        mqtt->publish("sample", mqttArray.append(']'), given.qos);
        mqttArray.clear();
    }
}

void Outputs::flushInflux()
{
    influxTimer.stop();
    if (mqtt && !influx.isEmpty())
        mqtt->publish("influx", influx, given.qos);
    influx.clear();
}

void Outputs::sessionLine(const char *event, const QByteArray &line)
{
    if (!mqtt)
        return;
    if (qstrcmp(event, "session") == 0)
        mqtt->keepRetained("session", line);
    else
        mqtt->publish("event", line, 1);
}

void Outputs::sendUdp(const QByteArray &datagram)
{
    for (const auto &u : udp)
        u->send(datagram);
}

void Outputs::flushUdpArray()
{
    if (udpArray.isEmpty())
        return;
    sendUdp(udpArray.append(']'));
    udpArray.clear();
}
