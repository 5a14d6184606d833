#include "pseudoterminal.h"

#include "ptymaster.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace nodesim
{

namespace
{

std::runtime_error systemError(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

short pollMaster(int fd, short events, int timeoutMs)
{
    pollfd entry{fd, events, 0};
    int result;
    do
        result = ::poll(&entry, 1, timeoutMs);
    while (result < 0 && errno == EINTR);
    return result > 0 ? entry.revents : 0;
}

} // namespace

PseudoTerminal::PseudoTerminal()
{
    master = openPtyMaster(O_NONBLOCK, &device);
    if (master < 0)
        throw systemError("no pseudo-terminal");
    // Opening and closing the device once puts the line in its "nobody
    // attached" state, which poll() then reports until a program opens it.
    const int slave = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0)
        ::close(slave);
}

PseudoTerminal::~PseudoTerminal()
{
    hangUp();
}

void PseudoTerminal::makeLink(const std::string &path)
{
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISLNK(info.st_mode))
            throw std::runtime_error(path + ": exists and is not a symbolic link");
        if (::unlink(path.c_str()) != 0)
            throw systemError(path);
    }
    if (::symlink(device.c_str(), path.c_str()) != 0)
        throw systemError(path);
    link = path;
}

bool PseudoTerminal::clientAttached() const
{
    return master >= 0 && !(pollMaster(master, POLLOUT, 0) & POLLHUP);
}

bool PseudoTerminal::clientReady() const
{
    if (!clientAttached())
        return false;
    // On the receiver's end tcgetattr() reports the program's line settings.
    termios settings;
    if (::tcgetattr(master, &settings) != 0)
        return false;
    return ::cfgetispeed(&settings) == B9600 && !(settings.c_lflag & ICANON);
}

bool PseudoTerminal::write(const uint8_t *data, size_t size,
                           const std::function<bool()> &keepWaiting)
{
    for (;;) {
        const size_t written = writeSome(data, size);
        data += written;
        size -= written;
        if (size == 0)
            return true;
        if (!isOpen() || !keepWaiting())
            return false;
        waitWritable(50);
    }
}

bool PseudoTerminal::write(const uint8_t *data, size_t size, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    return write(data, size, [deadline] { return std::chrono::steady_clock::now() < deadline; });
}

size_t PseudoTerminal::writeSome(const uint8_t *data, size_t size)
{
    size_t total = 0;
    while (master >= 0 && total < size) {
        const ssize_t written = ::write(master, data + total, size - total);
        if (written > 0)
            total += static_cast<size_t>(written);
        else if (written < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return total;
}

bool PseudoTerminal::waitWritable(int timeoutMs) const
{
    return master >= 0 && (pollMaster(master, POLLOUT, timeoutMs) & POLLOUT);
}

bool PseudoTerminal::waitReadable(int timeoutMs) const
{
    return master >= 0 && (pollMaster(master, POLLIN, timeoutMs) & POLLIN);
}

std::vector<uint8_t> PseudoTerminal::readAvailable()
{
    std::vector<uint8_t> bytes;
    uint8_t chunk[256];
    while (master >= 0) {
        const ssize_t got = ::read(master, chunk, sizeof chunk);
        if (got <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

void PseudoTerminal::hangUp()
{
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
    if (!link.empty()) {
        // Only our own link: another simulator may have taken the path since.
        char target[256];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length >= 0 && device == std::string(target, static_cast<size_t>(length)))
            ::unlink(link.c_str());
        link.clear();
    }
}

} // namespace nodesim
