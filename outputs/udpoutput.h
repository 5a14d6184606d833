#pragma once

#include "outputhealth.h"
#include "outputsettings.h"

#include <QElapsedTimer>
#include <QObject>

// One UDP destination: each message one datagram, sent without waiting (the
// socket never blocks). A send that fails (nobody listens on a port of this
// machine, the network is down, the socket's buffer is full) drops its
// message. While down, messages are dropped without a try until a retry is
// due: after 1 s, then after a pause twice as long each time, at most 30 s.
// The send after a retry's tells whether the destination is back (a refusal
// is only known at the next send).
class UdpOutput : public QObject
{
    Q_OBJECT
public:
    // Says why when the socket cannot be made; it then stays down.
    explicit UdpOutput(const OutputSettings::Destination &destination, QObject *parent = nullptr);
    ~UdpOutput() override;

    void send(const QByteArray &datagram);
    const OutputHealth &health() const { return state; }

signals:
    // A line for the user: the output down for a new cause, or back.
    void message(const QString &line);
    // health() changed.
    void changed();

private:
    void failed(const QString &cause);

    int fd = -1;
    OutputHealth state;
    QElapsedTimer clock;
    qint64 retryAt = 0;
    int pauseMs = 1000;
    bool probing = false; // a datagram went out at a retry: the next send decides
};
