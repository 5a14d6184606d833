#pragma once

#include "outputhealth.h"
#include "outputsettings.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <vector>

struct mosquitto;
class QThread;

// One MQTT broker, through libmosquitto, whose network loop runs on a thread
// of its own; what that thread learns reaches this object through queued
// calls (the messages it wrote through a list taken at each publish()), so
// everything here runs on its owner's thread. Publishing never
// waits: a message is handed to the client, or dropped and counted while the
// broker is away or while too much is still unwritten (libmosquitto queues
// without a limit when the socket is blocked, so this object counts what it
// handed over and the client has not written yet, and drops beyond
// maxPendingMessages or maxPendingBytes).
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
    // about 2.5 s for them to be written, then ends the client's thread.
    void close();

    const OutputHealth &health() const { return state; }
    QString url() const { return broker.url(); }

signals:
    void message(const QString &line);
    void changed();

private:
    // The client's thread: connects, runs the network loop, reconnects.
    void run();
    // The queued ends of the client's callbacks.
    void connected();
    void lost(const QString &reason);
    // Forgets the messages the client's thread has written since.
    void collectWritten();
    void say(const QString &line);

    struct Pending {
        qint64 bytes;
        int qos;
    };

    OutputSettings::Broker broker;
    QByteArray prefix;
    mosquitto *client = nullptr;
    QThread *loop = nullptr;
    OutputHealth state;
    bool everConnected = false;
    bool up = false;
    QHash<int, Pending> pending; // handed to the client, not written yet
    qint64 pendingBytes = 0;
    QHash<QByteArray, QByteArray> retained;

    // Shared with the client's thread.
    QMutex mutex;
    QWaitCondition wake;
    bool closing = false;         // end once disconnected
    bool ending = false;          // end now
    std::vector<int> writtenMids; // written (QoS 0) or acknowledged (QoS 1) since collected

    // The client's thread's own.
    int pauseMs = 1000;
    QString refusal;             // the broker's answer to the last connection refused
    int offlineMid = 0;          // "offline" at the close, once handed over
    bool offlineWritten = false; // and acknowledged
};
