#include "mqttoutput.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace
{

constexpr int firstPauseMs = 1000;
constexpr int longestPauseMs = 30000;
// Long enough for a broker on the network, short enough that a lost one is
// noticed within a minute.
constexpr int keepaliveSeconds = 30;
constexpr int closingMs = 2500;
// How soon the client's thread sees a close asked for.
constexpr int loopMs = 100;

QString reasonOf(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttOutput::MqttOutput(const OutputSettings &settings, const QString &topicPrefix,
                       const QString &device, QObject *parent)
    : QObject(parent), broker(settings.mqtt), prefix(topicPrefix.toUtf8()), state("mqtt")
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    client = mosquitto_new(OutputSettings::clientId(device).toUtf8().constData(), true, this);
    if (!client) {
        say(state.down(QStringLiteral("no MQTT client: %1").arg(std::strerror(errno))));
        return;
    }
    mosquitto_threaded_set(client, true);
    const QByteArray status = prefix + "/status";
    mosquitto_will_set(client, status.constData(), 7, "offline", 1, true);
    if (!settings.user.isEmpty())
        mosquitto_username_pw_set(
            client, settings.user.toUtf8().constData(),
            settings.password.isEmpty() ? nullptr : settings.password.toUtf8().constData());
    if (broker.tls && !settings.cafile.isEmpty())
        mosquitto_tls_set(client, QFile::encodeName(settings.cafile).constData(), nullptr, nullptr,
                          nullptr, nullptr);
    else if (broker.tls)
        mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
    mosquitto_connect_callback_set(client, [](mosquitto *, void *self, int rc) {
        auto *out = static_cast<MqttOutput *>(self);
        if (rc != 0) {
            out->refusal = QString::fromUtf8(mosquitto_connack_string(rc));
            return;
        }
        out->pauseMs = firstPauseMs;
        QMetaObject::invokeMethod(
            out, [out] { out->connected(); }, Qt::QueuedConnection);
    });
    mosquitto_publish_callback_set(client, [](mosquitto *, void *self, int mid) {
        auto *out = static_cast<MqttOutput *>(self);
        out->offlineWritten = out->offlineWritten || mid == out->offlineMid;
        // Collected, not posted one by one: a posted call per message would
        // wake the owner's thread twice a sample.
        QMutexLocker lock(&out->mutex);
        out->writtenMids.push_back(mid);
    });
    loop = QThread::create([this] { run(); });
    loop->setObjectName("mqtt");
    loop->start();
}

MqttOutput::~MqttOutput()
{
    close();
    if (client)
        mosquitto_destroy(client);
}

void MqttOutput::run()
{
    int rc = mosquitto_connect_async(client, broker.host.toUtf8().constData(), broker.port,
                                     keepaliveSeconds);
    bool disconnecting = false;
    for (;;) {
        if (rc == MOSQ_ERR_SUCCESS)
            rc = mosquitto_loop(client, loopMs, 1);
        QMutexLocker lock(&mutex);
        if (ending || (closing && rc != MOSQ_ERR_SUCCESS))
            return;
        if (closing && offlineMid == 0) {
            // On this thread, behind every message handed over before.
            lock.unlock();
            const QByteArray status = prefix + "/status";
            rc = mosquitto_publish(client, &offlineMid, status.constData(), 7, "offline", 1, true);
            continue;
        }
        if (closing && offlineWritten && !disconnecting) {
            // Only once every acknowledgement is in: libmosquitto takes one
            // that comes after its DISCONNECT for a broken protocol, and
            // drops the connection without it.
            disconnecting = true;
            lock.unlock();
            rc = mosquitto_disconnect(client);
            continue;
        }
        if (rc == MOSQ_ERR_SUCCESS)
            continue;
        const QString reason = refusal.isEmpty() ? reasonOf(rc) : refusal;
        refusal.clear();
        QMetaObject::invokeMethod(
            this, [this, reason] { lost(reason); }, Qt::QueuedConnection);
        wake.wait(&mutex, QDeadlineTimer(pauseMs));
        pauseMs = std::min(2 * pauseMs, longestPauseMs);
        if (ending || closing)
            return;
        lock.unlock();
        rc = mosquitto_reconnect_async(client);
    }
}

void MqttOutput::connected()
{
    up = true;
    if (!everConnected)
        say(QStringLiteral("mqtt: connected to %1, topics %2/...")
                .arg(broker.url(), QString::fromUtf8(prefix)));
    everConnected = true;
    publish("status", "online", 1, true);
    for (auto it = retained.cbegin(); it != retained.cend(); ++it)
        publish(it.key().constData(), it.value(), 1, true);
    // A broker that was only behind is back once it has caught up.
    collectWritten();
    if (pending.size() < maxPendingMessages / 2)
        say(state.up());
    emit changed();
}

void MqttOutput::lost(const QString &reason)
{
    up = false;
    // What waited at QoS 0 is gone with the connection; QoS 1 is sent again.
    collectWritten();
    for (auto it = pending.begin(); it != pending.end();)
        if (it->qos == 0) {
            state.drop();
            pendingBytes -= it->bytes;
            it = pending.erase(it);
        } else {
            ++it;
        }
    say(state.down(reason));
    emit changed();
}

void MqttOutput::collectWritten()
{
    std::vector<int> mids;
    {
        QMutexLocker lock(&mutex);
        mids.swap(writtenMids);
    }
    for (const int mid : mids) {
        const auto it = pending.constFind(mid);
        if (it == pending.cend())
            continue;
        pendingBytes -= it->bytes;
        pending.erase(it);
    }
    if (up && !state.isUp() && pending.size() < maxPendingMessages / 2 &&
        pendingBytes < maxPendingBytes / 2) {
        say(state.up());
        emit changed();
    }
}

bool MqttOutput::publish(const char *subtopic, const QByteArray &payload, int qos, bool retain)
{
    // A message written before it was entered here is found the next time.
    collectWritten();
    if (!client || (!up && qos == 0)) {
        state.drop();
        return false;
    }
    const bool full =
        pending.size() >= maxPendingMessages || pendingBytes + payload.size() > maxPendingBytes;
    if (full) {
        state.drop();
        const QString line = state.down(QStringLiteral("the broker takes no more; %1 messages "
                                                       "wait unwritten")
                                            .arg(pending.size()));
        if (!line.isEmpty()) {
            say(line);
            emit changed();
        }
        return false;
    }
    int mid = 0;
    const QByteArray topic = prefix + '/' + subtopic;
    const int rc = mosquitto_publish(client, &mid, topic.constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        state.drop();
        return false;
    }
    pending.insert(mid, {payload.size(), qos});
    pendingBytes += payload.size();
    return true;
}

void MqttOutput::keepRetained(const char *subtopic, const QByteArray &payload)
{
    retained.insert(subtopic, payload);
    publish(subtopic, payload, 1, true);
}

void MqttOutput::close()
{
    if (!loop)
        return;
    {
        // Nothing to write without a connection: the thread ends at once.
        QMutexLocker lock(&mutex);
        closing = true;
        ending = !up;
        wake.wakeAll();
    }
    if (!loop->wait(QDeadlineTimer(closingMs))) {
        QMutexLocker lock(&mutex);
        ending = true;
    }
    loop->wait();
    delete loop;
    loop = nullptr;
    up = false;
}

void MqttOutput::say(const QString &line)
{
    if (!line.isEmpty())
        emit message(line);
}
