#include "portrelease.h"
#include "ptymaster.h"

#include <libserial/SerialPort.h>

#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace
{

// A pseudo-terminal pair kept open only while a stuck port is being closed.
struct SparePty {
    int master = -1;
    int slave = -1;
    SparePty()
    {
        std::string name;
        master = openPtyMaster(0, &name);
        if (master >= 0)
            slave = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~SparePty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    SparePty(const SparePty &) = delete;
    SparePty &operator=(const SparePty &) = delete;
};

// libserial's Close() first restores the line settings saved at open and
// throws when that fails (the device is gone, or is no tty at all). The
// descriptor then stays open and the object still counts as open, so its
// noexcept destructor would call Close() again, throw, and end the process.
// dup2() puts a healthy pseudo-terminal under the same descriptor number,
// closing the dead one in the same step, so that Close() can succeed.
bool closeStuckPort(LibSerial::SerialPort &port)
{
    const int fd = port.GetFileDescriptor();
    SparePty spare;
    if (spare.slave < 0 || ::dup2(spare.slave, fd) < 0)
        return false;
    try {
        port.Close();
    } catch (const std::exception &) {
        return false;
    }
    return !port.IsOpen();
}

// Port objects that could not be closed: destroying one would end the
// process, so they are kept, descriptor closed, for the process's life.
std::vector<LibSerial::SerialPort *> &abandonedPorts()
{
    static std::vector<LibSerial::SerialPort *> ports;
    return ports;
}

} // namespace

void releaseSerialPort(LibSerial::SerialPort *port) noexcept
{
    if (port->IsOpen()) {
        try {
            port->Close();
        } catch (const std::exception &) {
            if (!closeStuckPort(*port)) {
                if (port->IsOpen())
                    ::close(port->GetFileDescriptor());
                abandonedPorts().push_back(port);
                return;
            }
        }
    }
    delete port;
}
