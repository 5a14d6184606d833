#include "mqttoutput.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <thread>

namespace
{

constexpr int firstPauseMs = 1000;
constexpr int longestPauseMs = 30000;
// Long enough for a broker on the network, short enough that a lost one is
// noticed within a minute.
constexpr int keepaliveSeconds = 30;
constexpr int closingMs = 2500;

QString reasonOf(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

struct MqttOutput::Connecting {
    std::mutex mutex;
    bool abandoned = false;
    bool done = false;
};

MqttOutput::MqttOutput(const OutputSettings &settings, const QString &topicPrefix,
                       const QString &device, QObject *parent)
    : QObject(parent), broker(settings.mqtt), prefix(topicPrefix.toUtf8()), pauseMs(firstPauseMs),
      state("mqtt")
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { mosquitto_lib_init(); });
    client = mosquitto_new(OutputSettings::clientId(device).toUtf8().constData(), true, this);
    if (!client) {
        say(state.down(QStringLiteral("no MQTT client: %1").arg(std::strerror(errno))));
        return;
    }
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
    // The callbacks run in this thread, within the client's calls made here.
    mosquitto_connect_callback_set(client, [](mosquitto *, void *self, int rc) {
        static_cast<MqttOutput *>(self)->connected(rc);
    });
    mosquitto_publish_callback_set(client, [](mosquitto *, void *self, int mid) {
        static_cast<MqttOutput *>(self)->writtenMids.push_back(mid);
    });
    housekeeping.setInterval(1000);
    connect(&housekeeping, &QTimer::timeout, this,
            [this] { afterIo(mosquitto_loop_misc(client)); });
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &MqttOutput::connectNow);
    connectNow();
}

MqttOutput::~MqttOutput()
{
    close();
    if (client)
        mosquitto_destroy(client);
}

void MqttOutput::connectNow()
{
    watch(-1);
    auto job = std::make_shared<Connecting>();
    connecting = job;
    const bool again = everTried;
    everTried = true;
    std::thread([this, job, again, c = client, host = broker.host.toUtf8(), port = broker.port] {
        // Blocks on the name, the TCP and the TLS handshake; writes CONNECT.
        const int rc = again ? mosquitto_reconnect(c)
                             : mosquitto_connect(c, host.constData(), port, keepaliveSeconds);
        const std::lock_guard<std::mutex> lock(job->mutex);
        if (job->abandoned) {
            mosquitto_destroy(c);
            return;
        }
        job->done = true;
        QMetaObject::invokeMethod(
            this,
            [this, job, rc] {
                if (connecting == job)
                    connectDone(rc);
            },
            Qt::QueuedConnection);
    }).detach();
}

void MqttOutput::connectDone(int rc)
{
    connecting.reset();
    if (rc != MOSQ_ERR_SUCCESS)
        return lost(reasonOf(rc));
    // The broker's answer comes to be read, and may be there already (the
    // owner's thread may have been busy since): taken now, so that samples
    // waiting behind it in the event loop find the broker connected.
    watch(mosquitto_socket(client));
    afterIo(mosquitto_loop_read(client, 1));
}

void MqttOutput::connected(int rc)
{
    if (rc != 0)
        return lost(QString::fromUtf8(mosquitto_connack_string(rc)));
    up = true;
    pauseMs = firstPauseMs;
    if (!everConnected)
        say(QStringLiteral("mqtt: connected to %1, topics %2/...")
                .arg(broker.url(), QString::fromUtf8(prefix)));
    everConnected = true;
    publish("status", "online", 1, true);
    for (auto it = retained.cbegin(); it != retained.cend(); ++it)
        publish(it.key().constData(), it.value(), 1, true);
    std::vector<Held> waiting;
    waiting.swap(held);
    for (const Held &h : waiting) {
        pendingBytes -= h.payload.size();
        int mid = 0;
        if (handOver(h.topic, h.payload, 1, h.retain, &mid))
            pending.insert(mid, {h.payload.size(), 1});
        else
            state.drop();
    }
    // A broker that was only behind is back once it has caught up.
    collectWritten();
    if (pending.size() < maxPendingMessages / 2)
        say(state.up());
    emit changed();
}

void MqttOutput::lost(const QString &reason)
{
    up = false;
    watch(-1);
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
    retry.start(pauseMs);
    pauseMs = std::min(2 * pauseMs, longestPauseMs);
}

void MqttOutput::watch(int fd)
{
    // This may run in a notifier's own slot (a read that lost the broker).
    for (QSocketNotifier **n : {&readable, &writable})
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->deleteLater();
            *n = nullptr;
        }
    housekeeping.stop();
    if (fd < 0)
        return;
    readable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this,
            [this] { afterIo(mosquitto_loop_read(client, 1)); });
    writable = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(writable, &QSocketNotifier::activated, this,
            [this] { afterIo(mosquitto_loop_write(client, 1)); });
    writable->setEnabled(mosquitto_want_write(client));
    housekeeping.start();
}

void MqttOutput::afterIo(int rc)
{
    if (!readable)
        return; // not connected (any more)
    if (rc != MOSQ_ERR_SUCCESS)
        return lost(reasonOf(rc));
    collectWritten();
    writable->setEnabled(mosquitto_want_write(client));
}

void MqttOutput::collectWritten()
{
    for (const int mid : writtenMids) {
        const auto it = pending.constFind(mid);
        if (it == pending.cend())
            continue;
        pendingBytes -= it->bytes;
        pending.erase(it);
    }
    writtenMids.clear();
    if (up && !state.isUp() && pending.size() < maxPendingMessages / 2 &&
        pendingBytes < maxPendingBytes / 2) {
        say(state.up());
        emit changed();
    }
}

bool MqttOutput::handOver(const QByteArray &topic, const QByteArray &payload, int qos, bool retain,
                          int *mid)
{
    const int rc = mosquitto_publish(client, mid, topic.constData(), int(payload.size()),
                                     payload.constData(), qos, retain);
    // Written at once, unless the socket is full.
    if (writable)
        writable->setEnabled(mosquitto_want_write(client));
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttOutput::publish(const char *subtopic, const QByteArray &payload, int qos, bool retain)
{
    // A message written before it was entered here is found the next time.
    collectWritten();
    if (!client || (!up && qos == 0)) {
        state.drop();
        return false;
    }
    const qsizetype waiting = pending.size() + qsizetype(held.size());
    const bool full =
        waiting >= maxPendingMessages || pendingBytes + payload.size() > maxPendingBytes;
    if (full) {
        state.drop();
        const QString line = state.down(QStringLiteral("the broker takes no more; %1 messages "
                                                       "wait unwritten")
                                            .arg(waiting));
        if (!line.isEmpty()) {
            say(line);
            emit changed();
        }
        return false;
    }
    const QByteArray topic = prefix + '/' + subtopic;
    if (!up) {
        // The client is not touched while a thread connects it.
        held.push_back({topic, payload, retain});
        pendingBytes += payload.size();
        return true;
    }
    int mid = 0;
    if (!handOver(topic, payload, qos, retain, &mid)) {
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
    retry.stop();
    if (connecting) {
        const std::lock_guard<std::mutex> lock(connecting->mutex);
        if (!connecting->done) {
            connecting->abandoned = true;
            client = nullptr; // the connecting thread destroys it
        }
        connecting.reset();
    }
    if (!client || !up) {
        watch(-1);
        up = false;
        return;
    }
    // "offline", and once the broker has acknowledged it (and so every
    // message before it), a clean disconnection: libmosquitto drops the
    // connection without DISCONNECT when an acknowledgement comes after it,
    // and the broker would then send the Last Will.
    watch(-1);
    up = false;
    const QByteArray status = prefix + "/status";
    offlineMid = 0;
    int rc = mosquitto_publish(client, &offlineMid, status.constData(), 7, "offline", 1, true);
    const QDeadlineTimer deadline(closingMs);
    const auto acknowledged = [this] {
        return std::find(writtenMids.begin(), writtenMids.end(), offlineMid) != writtenMids.end();
    };
    while (rc == MOSQ_ERR_SUCCESS && !acknowledged() && !deadline.hasExpired()) {
        pollfd p{mosquitto_socket(client),
                 short(POLLIN | (mosquitto_want_write(client) ? POLLOUT : 0)), 0};
        if (::poll(&p, 1, int(std::min<qint64>(deadline.remainingTime(), 100))) < 0 &&
            errno != EINTR)
            break;
        if (p.revents & (POLLIN | POLLHUP | POLLERR))
            rc = mosquitto_loop_read(client, 1);
        if (rc == MOSQ_ERR_SUCCESS && (p.revents & POLLOUT))
            rc = mosquitto_loop_write(client, 1);
    }
    if (acknowledged())
        mosquitto_disconnect(client);
}

void MqttOutput::say(const QString &line)
{
    if (!line.isEmpty())
        emit message(line);
}
