#include "notesignal.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int moments[2] = {-1, -1};

// Only async-signal-safe work: steadyNow() is clock_gettime underneath.
void onSignal(int)
{
    const int saved = errno;
    const SteadyNs at = steadyNow();
    [[maybe_unused]] const ssize_t written = ::write(moments[1], &at, sizeof at);
    errno = saved;
}

} // namespace

NoteSignal::NoteSignal(QObject *parent) : QObject(parent)
{
    // Datagrams keep each moment whole; non-blocking, a flood is dropped.
    if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, moments) != 0)
        return;
    auto *notifier = new QSocketNotifier(moments[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        SteadyNs at = 0;
        while (::read(moments[0], &at, sizeof at) == sizeof at)
            emit requested(at);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}
