#include "udpoutput.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int firstPauseMs = 1000;
constexpr int longestPauseMs = 30000;

} // namespace

UdpOutput::UdpOutput(const OutputSettings::Destination &destination, QObject *parent)
    : QObject(parent), state("udp " + destination.text)
{
    clock.start();
    sockaddr_storage address{};
    socklen_t length = 0;
    if (destination.address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&address);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(destination.port);
        const Q_IPV6ADDR bytes = destination.address.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&address);
        a->sin_family = AF_INET;
        a->sin_port = htons(destination.port);
        a->sin_addr.s_addr = htonl(destination.address.toIPv4Address());
        length = sizeof *a;
    }
    // Connected, so that a refusal by the destination's host comes back.
    fd = ::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), length) != 0) {
        state.down(QString::fromLocal8Bit(std::strerror(errno)));
        retryAt = std::numeric_limits<qint64>::max();
    }
}

UdpOutput::~UdpOutput()
{
    if (fd >= 0)
        ::close(fd);
}

void UdpOutput::send(const QByteArray &datagram)
{
    const bool retry = !state.isUp() && !probing;
    if (retry && clock.elapsed() < retryAt) {
        state.drop();
        return;
    }
    if (::send(fd, datagram.constData(), size_t(datagram.size()), MSG_DONTWAIT | MSG_NOSIGNAL) !=
        datagram.size())
        return failed(QString::fromLocal8Bit(std::strerror(errno)));
    if (retry) {
        probing = true;
        return;
    }
    if (!probing)
        return;
    probing = false;
    pauseMs = firstPauseMs;
    emit message(state.up());
    emit changed();
}

void UdpOutput::failed(const QString &cause)
{
    state.drop();
    if (!state.isUp())
        pauseMs = std::min(2 * pauseMs, longestPauseMs);
    probing = false;
    retryAt = clock.elapsed() + pauseMs;
    const QString line = state.down(cause);
    if (!line.isEmpty())
        emit message(line);
    emit changed();
}
