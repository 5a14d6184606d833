#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace nodesim
{

// The receiver's end of a pseudo-terminal. The other end, devicePath(), is a
// real tty that Motion Monitor opens through libserial as it opens
// /dev/ttyUSB0. Bytes written here arrive there and the other way round.
// Closing this end (hangUp) is what the program sees when the receiver is
// pulled out: its reads and line tests fail with EIO.
class PseudoTerminal
{
public:
    // Opens a new pair; throws std::runtime_error when the system has none.
    PseudoTerminal();
    // Hangs up and removes the link.
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    const std::string &devicePath() const { return device; }
    // Makes a symbolic link at `path` to the device, replacing an older
    // link there (but never a file that is not a link). Throws
    // std::runtime_error on failure. The link is removed on hang-up.
    void makeLink(const std::string &path);
    const std::string &linkPath() const { return link; }

    // False once hung up.
    bool isOpen() const { return master >= 0; }
    // A program holds the device open.
    bool clientAttached() const;
    // A program holds the device open and has set it to 9600 baud in raw
    // mode, so bytes written now are no longer flushed by its set-up.
    bool clientReady() const;

    // Writes all of `data`. While the line is full it asks `keepWaiting`,
    // about every 50 ms, whether to wait on. False when hung up or when
    // keepWaiting said no.
    bool write(const uint8_t *data, size_t size, const std::function<bool()> &keepWaiting);
    // The same, waiting up to `timeoutMs` in all.
    bool write(const uint8_t *data, size_t size, int timeoutMs = 5000);
    bool write(const std::vector<uint8_t> &data, int timeoutMs = 5000)
    {
        return write(data.data(), data.size(), timeoutMs);
    }

    // Writes what the line takes now, without waiting; returns how much.
    size_t writeSome(const uint8_t *data, size_t size);
    // Waits up to `timeoutMs` until the line takes bytes again.
    bool waitWritable(int timeoutMs) const;

    // Waits up to `timeoutMs` for bytes from the program; true when some wait.
    bool waitReadable(int timeoutMs) const;
    // Takes every byte the program has written so far, without waiting.
    std::vector<uint8_t> readAvailable();

    // Closes the receiver's end: the line hangs up. Removes the link.
    void hangUp();

private:
    int master = -1;
    std::string device;
    std::string link;
};

} // namespace nodesim
