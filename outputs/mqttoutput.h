#pragma once

#include "outputhealth.h"
#include "outputsettings.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

struct mosquitto;
class QSocketNotifier;

// One MQTT broker, through libmosquitto, driven from its owner's event loop:
// a message is written to the socket as it is published (one system call,
// no thread woken), the broker's answers are read when the socket is
// readable, and a socket that was full is written when it drains. Only
// connecting, which may wait for a name to resolve, a TCP or a TLS
// handshake, runs on a thread of its own, while nothing else touches the
// client; the connection is handed back through a queued call.
//
// Publishing never waits: a message is handed to the client, or dropped and
// counted while the broker is away or while too much is still unwritten
// (libmosquitto queues without a limit when the socket is full, so this
// object counts what it handed over and the client has not written yet, and
// drops beyond maxPendingMessages or maxPendingBytes).
//
// `<prefix>/status` is "online" (retained) at every connection, "offline"
// before a clean close, and "offline" as the Last Will, so that a recorder
// that died shows as such. A lost broker is said once per cause and tried
// again after 1 s, then after a pause twice as long each time, at most
// 30 s; its return is said too.
class MqttOutput : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxPendingMessages = 10000;
    static constexpr qint64 maxPendingBytes = 8 << 20;

    // Starts connecting at once. `prefix` is the topic prefix; `device`
    // makes the client id.
    MqttOutput(const OutputSettings &settings, const QString &prefix, const QString &device,
               QObject *parent = nullptr);
    // close()
    ~MqttOutput() override;

    // `<prefix>/<subtopic>`; false when dropped. A message of QoS 1 that
    // was handed over is delivered after a reconnection too.
    bool publish(const char *subtopic, const QByteArray &payload, int qos, bool retain = false);
    // Publishes a retained message now and again at every reconnection (the
    // broker may have restarted without keeping it).
    void keepRetained(const char *subtopic, const QByteArray &payload);
    // "offline" and a clean disconnection when connected; waits at most
    // about 2.5 s for them to be acknowledged and written.
    void close();

    const OutputHealth &health() const { return state; }
    QString url() const { return broker.url(); }

signals:
    void message(const QString &line);
    void changed();

private:
    // Connects (again) on a thread of its own.
    void connectNow();
    // The connecting thread is done: `rc` is its result.
    void connectDone(int rc);
    // Hands a message to the client; false when the client refuses it.
    bool handOver(const QByteArray &topic, const QByteArray &payload, int qos, bool retain,
                  int *mid);
    // The broker's answer to the connection.
    void connected(int rc);
    // The connection is gone, for `reason`: tried again after a pause.
    void lost(const QString &reason);
    // Watches the client's socket: always for reading, for writing while the
    // client has something it could not write yet. None once `fd` is -1.
    void watch(int fd);
    void afterIo(int rc);
    // Forgets the messages the client has written since.
    void collectWritten();
    void say(const QString &line);

    struct Pending {
        qint64 bytes;
        int qos;
    };
    // A message of QoS 1 published while the broker was away, handed over at
    // the next connection.
    struct Held {
        QByteArray topic, payload;
        bool retain;
    };
    // Shared with a connecting thread, which may outlive this object: once
    // abandoned, the thread destroys the client itself.
    struct Connecting;

    OutputSettings::Broker broker;
    QByteArray prefix;
    mosquitto *client = nullptr;
    std::shared_ptr<Connecting> connecting; // while a thread connects
    bool everTried = false;
    QSocketNotifier *readable = nullptr;
    QSocketNotifier *writable = nullptr;
    QTimer housekeeping; // keepalive pings, and the time-outs of the protocol
    QTimer retry;
    int pauseMs;
    OutputHealth state;
    bool everConnected = false;
    bool up = false;
    QHash<int, Pending> pending; // handed to the client, not written yet
    std::vector<Held> held;      // counted in pending's bounds too
    qint64 pendingBytes = 0;
    std::vector<int> writtenMids; // written (QoS 0) or acknowledged (QoS 1) since collected
    QHash<QByteArray, QByteArray> retained;
    int offlineMid = 0; // "offline" at the close, once handed over
};
