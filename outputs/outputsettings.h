#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// Where the samples go besides the log files, as the recorder's command line
// and the window's "Live outputs" dialog give them (nothing is kept between
// runs): UDP destinations, each a datagram of JSON per sample (PlotJuggler's
// UDP server reads it), and an MQTT broker. The defaults live here.
struct OutputSettings {
    // PlotJuggler's UDP server listens there unless told otherwise.
    static constexpr quint16 defaultUdpPort = 9870;
    static constexpr quint16 defaultMqttPort = 1883;
    static constexpr quint16 defaultMqttsPort = 8883;
    // Read when no password file is given: a process's arguments are
    // visible to every user, its environment is not.
    static constexpr const char *passwordVariable = "MOTIONMONITOR_MQTT_PASSWORD";

    struct Destination {
        QHostAddress address;
        quint16 port = 0;
        QString text; // as given
        bool operator==(const Destination &o) const
        {
            return address == o.address && port == o.port;
        }
    };
    struct Broker {
        QString host; // empty: no MQTT
        quint16 port = 0;
        bool tls = false;
        QString url() const;
        bool operator==(const Broker &o) const
        {
            return host == o.host && port == o.port && tls == o.tls;
        }
    };

    QList<Destination> udp;
    bool udpBatch = false; // one JSON array per read instead of one datagram per sample
    Broker mqtt;
    QString topic; // the topic prefix; empty: defaultTopic() of the device
    int qos = 0;
    bool mqttBatch = false;
    QString user;
    QString password; // from the password file or passwordVariable
    QString cafile;   // empty: the system's certificates

    bool any() const { return !udp.isEmpty() || !mqtt.host.isEmpty(); }
    bool operator==(const OutputSettings &o) const;

    // The settings as typed, one string per field.
    struct Given {
        QStringList udp;
        bool udpBatch = false;
        QString mqtt, topic, qos, user, passwordFile, cafile;
        bool mqttBatch = false;
    };
    enum class Field { Udp, Mqtt, Topic, Qos, User, PasswordFile, Cafile };
    // Checks and reads what is given, before anything is opened: each UDP
    // destination's name resolved, the URL, the topic, the QoS, the password
    // read (from its file, else from the environment) and the certificate
    // file readable. False on the first problem, with the field and
    // *reason: the value given, a colon and what is wrong.
    static bool read(const Given &given, OutputSettings *settings, Field *field, QString *reason);

    // "motionmonitor/<host>/<device file name>": one topic tree per rig.
    static QString defaultTopic(const QString &device);
    // The client id the broker knows this recorder by: unique per host and
    // device, so that two recorders never take each other's session.
    static QString clientId(const QString &device);
    // "[HOST:]PORT" (HOST a name, an IPv4 address or [IPv6]), the host
    // 127.0.0.1 when left out; false with *reason when malformed or when the
    // name does not resolve.
    static bool parseDestination(const QString &text, Destination *d, QString *reason);
    // mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (TLS).
    static bool parseBroker(const QString &url, Broker *b, QString *reason);
};
