#pragma once

namespace LibSerial
{
class SerialPort;
}

// Closes and destroys `port` without ever ending the process, also when its
// device is gone (libserial's Close() then throws, and its noexcept
// destructor would call Close() again). A port that cannot be closed by any
// means has its descriptor closed and is kept for the process's life.
void releaseSerialPort(LibSerial::SerialPort *port) noexcept;

// releaseSerialPort as the deleter of an owning pointer.
struct SerialPortRelease {
    void operator()(LibSerial::SerialPort *port) const noexcept { releaseSerialPort(port); }
};
